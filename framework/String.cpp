// CString and the conversions between code pages.
#include "framework/String.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_text.clear();
    } else {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        m_text.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
}

int CString::Find(const char* sub, int start) const {
    if (!sub || start < 0) return -1;
    const size_t subLength = strlen(sub);
    const size_t length = m_text.size();
    // Walk character by character from the beginning so that we always know
    // where characters start, whatever start says.
    size_t pos = 0;
    while (pos <= length) {
        if (pos >= static_cast<size_t>(start) && length - pos >= subLength &&
            m_text.compare(pos, subLength, sub) == 0) {
            return static_cast<int>(pos);
        }
        if (pos == length) break;
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(m_text[pos])) && pos + 1 < length;
        pos += lead ? 2 : 1;
    }
    return -1;
}

CString CString::Mid(int start, int count) const {
    if (start < 0) start = 0;
    if (static_cast<size_t>(start) >= m_text.size()) return CString();
    std::string part = count < 0 ? m_text.substr(start) : m_text.substr(start, count);
    return CString(part.c_str(), static_cast<int>(part.size()));
}

void CString::TrimRight() {
    size_t end = m_text.find_last_not_of(" \t\n\v\f\r");
    m_text.erase(end == std::string::npos ? 0 : end + 1);
}

std::wstring WideFromNarrow(const char* text, unsigned codePage) {
    if (!text || !*text) return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

CString NarrowFromWide(const wchar_t* text, unsigned codePage, bool* lossless) {
    if (lossless) *lossless = true;
    if (!text || !*text) return CString();
    const int length = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        if (lossless) *lossless = false;
        return CString();
    }
    std::vector<char> narrow(static_cast<size_t>(length));
    WideCharToMultiByte(codePage, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    if (lossless) {
        // Best-fit mappings turn letters into look-alikes without reporting
        // a default character: only the way back tells for certain.
        std::vector<wchar_t> back(wcslen(text) + 1);
        const int backLength = MultiByteToWideChar(codePage, 0, narrow.data(), -1, back.data(),
                                                   static_cast<int>(back.size()));
        *lossless = backLength > 0 && wcscmp(back.data(), text) == 0;
        SecureZeroMemory(back.data(), back.size() * sizeof(wchar_t));
    }
    CString result(narrow.data(), length - 1);
    // The text may be a password: leave no copy in freed memory.
    SecureZeroMemory(narrow.data(), narrow.size());
    return result;
}
