#include "support/ChildProcess.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

namespace tidewell {

namespace {

bool IsBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

// A path from a drive's root ("C:\"), a share ("\\server") or the current drive's root.
bool IsFromARoot(const std::u16string& path) {
    const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    return drive || (!path.empty() && (path[0] == u'\\' || path[0] == u'/'));
}

// %NAME% replaced by the variable's value where it is defined, as Windows does for the
// REG_EXPAND_SZ commands of install records; other percent signs stay.
std::u16string ExpandVariables(Platform& platform, const std::u16string& text) {
    std::u16string expanded;
    size_t done = 0;
    for (size_t open = text.find(u'%'); open != std::u16string::npos;) {
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            break;
        }
        const std::optional<std::u16string> value =
            close > open + 1 ? platform.environmentVariable(text.substr(open + 1, close - open - 1))
                             : std::nullopt;
        if (!value) {
            open = close; // the closing sign may open a name
            continue;
        }
        expanded += text.substr(done, open - done) + *value;
        done = close + 1;
        open = text.find(u'%', done);
    }
    return expanded + text.substr(done);
}

// Starts the child and waits in slices of `slice`; after each slice that passes, keepWaiting
// (when given) decides whether to wait another one.
ChildRun Run(Platform& platform, const std::u16string& commandLine, ChildRights rights,
             ChildScope scope, uint32_t& exitCode, uint32_t slice, bool keepPainting,
             const std::function<bool(uint64_t waited)>& keepWaiting) {
    ChildRun run;
    const ResolvedCommand command = ResolveCommandProgram(platform, commandLine);
    if (command.refusal != ProgramRefusal::None) {
        run.error = codes::kFileNotFound;
        run.refusal = command.refusal;
        run.program = command.program;
        return run;
    }
    const ChildStart start =
        rights == ChildRights::ShellUser
            ? platform.startAsShellUser(command.application, command.commandLine, scope)
            : platform.startHidden(command.application, command.commandLine, scope);
    if (start.error != codes::kSuccess) {
        run.error = start.error;
        run.shellToken = start.shellToken;
        return run;
    }
    for (;;) {
        const ChildWait wait = platform.waitForChild(start.child, slice, keepPainting);
        if (wait.end == WaitEnd::Exited) {
            exitCode = wait.exitCode;
            run.ended = true;
            break;
        }
        if (wait.end == WaitEnd::Failed) {
            run.error = wait.error;
            break;
        }
        run.waited += slice;
        if (!keepWaiting) {
            run.error = codes::kTimeout;
            break;
        }
        if (!keepWaiting(run.waited)) {
            run.error = codes::kTimeout;
            run.givenUp = true;
            break;
        }
    }
    // Closing our handles does not end the child: one that outlived the limit goes on alone.
    platform.releaseChild(start.child);
    return run;
}

} // namespace

ResolvedCommand ResolveCommandProgram(Platform& platform, const std::u16string& recorded) {
    ResolvedCommand resolved;
    const std::u16string commandLine = ExpandVariables(platform, recorded);
    resolved.commandLine = commandLine;
    size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) {
        ++start;
    }
    const bool quoted = start < commandLine.size() && commandLine[start] == u'"';
    start += quoted ? 1 : 0;
    size_t end = start;
    while (end < commandLine.size() &&
           (quoted ? commandLine[end] != u'"' : !IsBlank(commandLine[end]))) {
        ++end;
    }
    resolved.program = commandLine.substr(start, end - start);
    const std::u16string& program = resolved.program;
    if (program.empty()) {
        return resolved; // nothing to find: the system refuses it
    }
    if (program.find_first_of(u"\\/:") != std::u16string::npos) {
        if (!IsFromARoot(program)) {
            resolved.refusal = ProgramRefusal::RelativePath;
        }
        return resolved;
    }
    // Spelled as the system's programs are on disk, whatever case the record used.
    const std::u16string file =
        ToLower(program.find(u'.') == std::u16string::npos ? program + u".exe" : program);
    for (const std::u16string& folder : {platform.systemDirectory(), platform.windowsDirectory()}) {
        if (folder.empty()) {
            continue;
        }
        const std::u16string path = JoinPath(folder, file);
        const FileAttributes attributes = platform.fileAttributes(path);
        if (attributes.exists() && !attributes.isDirectory()) {
            const size_t rest = end + (quoted && end < commandLine.size() ? 1 : 0);
            resolved.application = path;
            resolved.commandLine = u"\"" + path + u"\"" + commandLine.substr(rest);
            return resolved;
        }
    }
    resolved.refusal = ProgramRefusal::NotInSystemFolders;
    return resolved;
}

ChildRun RunProcessAndWait(Platform& platform, const std::u16string& commandLine,
                           uint32_t& exitCode, uint32_t timeoutMilliseconds, bool keepPainting) {
    return Run(platform, commandLine, ChildRights::Program, ChildScope::Process, exitCode,
               timeoutMilliseconds, keepPainting, {});
}

ChildRun RunProcessAndWaitPatiently(Platform& platform, const std::u16string& commandLine,
                                    ChildRights rights, uint32_t& exitCode,
                                    uint32_t questionInterval,
                                    const std::function<bool(uint64_t waited)>& keepWaiting) {
    return Run(platform, commandLine, rights, ChildScope::ProcessTree, exitCode, questionInterval,
               true, keepWaiting);
}

} // namespace tidewell
