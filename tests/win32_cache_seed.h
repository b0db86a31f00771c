// Puts entries into WinINet's URL cache for the Windows tests, each backed by
// a small file as a download would be.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

inline bool seed_url_cache_entry(const std::string& url, DWORD type) {
    char file_name[MAX_PATH] = {};
    if (!CreateUrlCacheEntryA(url.c_str(), 0, "txt", file_name, 0))
        return false;
    HANDLE file = CreateFileA(file_name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, "cached", 6, &written, nullptr);
    CloseHandle(file);
    FILETIME never = {};
    static char headers[] = "HTTP/1.1 200 OK\r\n\r\n";
    return CommitUrlCacheEntryA(url.c_str(), file_name, never, never, type,
                                reinterpret_cast<BYTE*>(headers), sizeof headers - 1, nullptr,
                                nullptr) != FALSE;
}
