#pragma once

#include <cstdint>

// Windows numbers the logic compares or passes on. Named here so that the Linux build and the
// in-memory platform use the same values as the Win32 implementation.
namespace tidewell::codes {

// Error codes (GetLastError / registry results).
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kDirectoryNotEmpty = 145;
constexpr uint32_t kFilenameExcedRange = 206; // a plain path too long for the call
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kDependentServicesRunning = 1051;
constexpr uint32_t kServiceCannotAcceptControl = 1061;
constexpr uint32_t kServiceDisabled = 1058; // also: the Secondary Logon service is off
constexpr uint32_t kServiceDoesNotExist = 1060;
constexpr uint32_t kServiceMarkedForDelete = 1072;
constexpr uint32_t kInvalidWindowHandle = 1400;
constexpr uint32_t kTimeout = 1460;
constexpr uint32_t kUnknownProduct = 1605;
constexpr uint32_t kSuccessRebootRequired = 3010;

// File attribute bits.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// Registry value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

// Service states (SERVICE_STATUS.dwCurrentState).
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;

// Time limit meaning "wait for ever".
constexpr uint32_t kInfinite = 0xFFFFFFFF;

} // namespace tidewell::codes
