#include "catalogue/ScanCollector.h"

#include "platform/SystemCodes.h"
#include "support/ProgramPath.h"
#include "support/Text.h"

#include <memory>
#include <optional>

namespace tidewell {

namespace {

// Executable names, compared whole after lower-casing.
const char16_t* const kAutoCadProcesses[] = {
    u"acad.exe",
    u"acadlt.exe",
    u"accoreconsole.exe",
    u"acwebbrowser.exe",
    u"adappmgrsvc.exe",
    u"adsklicensingagent.exe",
    u"adskidentitymanager.exe",
    u"autodeskdesktopapp.exe",
    nullptr,
};
const char16_t* const kSolidWorksProcesses[] = {
    u"sldworks.exe", u"swspmanager.exe", u"swboengine.exe",
    u"sldim.exe",    u"swlicensing.exe", nullptr,
};
const char16_t* const kOracleProcesses[] = {
    u"oracle.exe",   u"tnslsnr.exe", u"sqlplus.exe", u"sqldeveloper.exe",
    u"oraagent.exe", u"emagent.exe", nullptr,
};

// Service keywords, searched in "key name" + " " + "display name". Oracle services are also
// recognised by the "ora" prefix of their key name (OraDB19Home1TNSListener), never of the
// display name.
struct ServiceTests {
    const char16_t* keywords[4];
    const char16_t* keyNamePrefix;
};

const ServiceTests kAutoCadServices = {{u"autodesk", u"adsk", nullptr, nullptr}, nullptr};
const ServiceTests kSolidWorksServices = {{u"solidworks", u"sldworks", u"swboengine", nullptr},
                                          nullptr};
const ServiceTests kOracleServices = {{u"oracle", nullptr, nullptr, nullptr}, u"ora"};

const char16_t* const* ProcessNamesFor(ProductKind product) {
    if (product == ProductKind::AutoCAD) {
        return kAutoCadProcesses;
    }
    if (product == ProductKind::SolidWorks) {
        return kSolidWorksProcesses;
    }
    return kOracleProcesses;
}

const ServiceTests& ServiceTestsFor(ProductKind product) {
    if (product == ProductKind::AutoCAD) {
        return kAutoCadServices;
    }
    if (product == ProductKind::SolidWorks) {
        return kSolidWorksServices;
    }
    return kOracleServices;
}

bool IsListed(const char16_t* const* names, const std::u16string& lowerName) {
    for (; *names != nullptr; ++names) {
        if (lowerName == *names) {
            return true;
        }
    }
    return false;
}

// Licensing, identity and desktop-app helpers serve every Autodesk product; only AutoCAD's own
// programs may be ended without asking.
bool IsSharedProcess(ProductKind product, const std::u16string& lowerName) {
    return product == ProductKind::AutoCAD && !StartsWithNoCase(lowerName, u"acad") &&
           lowerName != u"accoreconsole.exe";
}

bool ServiceMatches(const ServiceTests& tests, const ServiceEntry& service) {
    const std::u16string matchText = service.keyName + u" " + service.displayName;
    for (const char16_t* keyword : tests.keywords) {
        if (keyword != nullptr && ContainsNoCase(matchText, keyword)) {
            return true;
        }
    }
    return tests.keyNamePrefix != nullptr && StartsWithNoCase(service.keyName, tests.keyNamePrefix);
}

} // namespace

void ScanCollector::scanProcesses() {
    const ProcessListing listing = platform.listProcesses();
    if (listing.error != 0) {
        return;
    }
    const char16_t* const* names = ProcessNamesFor(product);
    for (const ProcessEntry& process : listing.processes) {
        const std::u16string lowerName = ToLower(process.executableName);
        if (!IsListed(names, lowerName)) {
            continue;
        }
        const std::optional<uint32_t> own = platform.currentSessionId();
        const bool otherSession = own && process.sessionId && *own != *process.sessionId;
        auto item = std::make_unique<ResidueItem>();
        item->category = u"正在占用";
        item->title = process.executableName + u"（PID " + ToDecimal(process.id) + u"）";
        item->location = ToDecimal(process.id);
        item->kind = ItemKind::Process;
        if (IsSharedProcess(product, lowerName)) {
            item->note = u"Autodesk 共享进程，其他产品也可能正在使用。";
            item->risk = RiskLevel::NeedsConfirm;
            item->checked = false;
        } else if (otherSession) {
            // On a shared machine this is another user's work, unsaved drawings included.
            item->note = u"其他用户会话中的进程；结束它可能丢失该用户未保存的工作，因此默认不选。";
            item->risk = RiskLevel::NeedsConfirm;
            item->checked = false;
        } else {
            item->note = productName(product) + u" 进程可能锁定安装文件。";
            item->risk = RiskLevel::Safe;
            item->checked = true;
        }
        addItem(std::move(item));
    }
}

void ScanCollector::scanServices() {
    const ServiceListing listing = platform.listServices();
    if (listing.error != 0) {
        return;
    }
    // Ending a running service's process aborts the service (a database among them), which
    // the scan deliberately does not stop: such a process found above is left to the user.
    for (const ServiceEntry& service : listing.services) {
        if (service.processId == 0) {
            continue;
        }
        const std::u16string id = ToDecimal(service.processId);
        for (auto& item : items) {
            if (item->kind == ItemKind::Process && item->location == id) {
                item->note = u"正在运行的服务“" + service.displayName +
                             u"”的进程；结束它会中断该服务，因此默认不选。";
                item->risk = RiskLevel::NeedsConfirm;
                item->checked = false;
            }
        }
    }
    // Every service's program, whoever made it: services are never deleted, so their programs
    // stay too.
    for (const ServiceEntry& service : listing.services) {
        const std::u16string program = ProgramPathOf(platform, service.binaryPath);
        if (!program.empty()) {
            livePlaces_.push_back({ComparablePath(program), service.keyName, true});
        }
    }
    const ServiceTests& tests = ServiceTestsFor(product);
    for (const ServiceEntry& service : listing.services) {
        if (!ServiceMatches(tests, service)) {
            continue;
        }
        auto item = std::make_unique<ResidueItem>();
        item->category = u"相关服务";
        item->title = service.displayName;
        item->location = service.keyName;
        item->note = makerName(product) + u" 相关服务。清理只停止服务，不删除服务注册。";
        // Its registration outlived its program: the service can no longer start, and the
        // user's guide says when to remove the registration by hand.
        const std::u16string program = ProgramPathOf(platform, service.binaryPath);
        const uint32_t missing = program.empty() ? 0 : platform.fileAttributes(program).error;
        if (missing == codes::kFileNotFound || missing == codes::kPathNotFound) {
            item->note = u"服务程序已不存在：" + program +
                         u"；此服务已无法启动。清理只停止服务，不删除服务注册。";
        }
        item->kind = ItemKind::Service;
        item->risk = RiskLevel::HighRisk;
        item->checked = false;
        addItem(std::move(item));
    }
}

} // namespace tidewell
