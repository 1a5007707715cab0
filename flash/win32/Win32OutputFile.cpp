#include "flash/win32/Win32OutputFile.h"

namespace {

bool Rewind(HANDLE handle) {
    // A position of 0 is also what a failure returns: ask the error code.
    SetLastError(NO_ERROR);
    return SetFilePointer(handle, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
           GetLastError() == NO_ERROR;
}

}  // namespace

Win32OutputFile::~Win32OutputFile() {
    Close();
}

bool Win32OutputFile::Open(const std::string& path) {
    Close();
    // OPEN_ALWAYS keeps an existing file's contents; share mode 0 keeps
    // every other opener out while the read-out holds the file.
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
}

bool Win32OutputFile::Length(uint64_t& length) {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    length = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool Win32OutputFile::Truncate() {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    return Rewind(handle_) && SetEndOfFile(handle_) != 0;
}

bool Win32OutputFile::Write(const uint8_t* data, uint32_t length) {
    if (handle_ == INVALID_HANDLE_VALUE || !Rewind(handle_)) return false;
    DWORD written = 0;
    return WriteFile(handle_, data, length, &written, nullptr) != 0 && written == length;
}

void Win32OutputFile::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}
