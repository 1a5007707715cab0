#include "app/Win32SourceFiles.h"

#include <windows.h>

#include "flash/FormatText.h"

SourceFiles::Result Win32SourceFiles::Read(const std::string& path, size_t limit, std::string& data,
                                           std::string& why) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        why = FormatText("error %lu", error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Result::Missing
                                                                              : Result::Failed;
    }
    Result result = Result::Read;
    size_t length = 0;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        why = "it is not a file";
        result = Result::Failed;
    }
    data.assign(limit + 1, '\0');
    while (result == Result::Read && length < data.size()) {
        DWORD got = 0;
        if (!ReadFile(file, &data[length], static_cast<DWORD>(data.size() - length), &got,
                      nullptr)) {
            why = FormatText("error %lu", GetLastError());
            result = Result::Failed;
        }
        if (got == 0) break;
        length += got;
    }
    data.resize(length);
    CloseHandle(file);
    return result;
}
