// CString: a byte string in the process's ANSI code page (936 for this
// program). Lengths and positions count bytes.
#pragma once

#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}
    CString(const char* text, int length) : m_text(text, length > 0 ? length : 0) {}

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    operator const char*() const { return m_text.c_str(); }
    const char* c_str() const { return m_text.c_str(); }

    CString& operator+=(const CString& other) {
        m_text += other.m_text;
        return *this;
    }
    friend CString operator+(CString left, const CString& right) { return left += right; }
    friend CString operator+(CString left, const char* right) { return left += CString(right); }
    friend CString operator+(const char* left, const CString& right) {
        return CString(left) += right;
    }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }

    // printf-style formatting; replaces the contents.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Position of the first occurrence of sub at or after start, or -1. A
    // match never begins on the trailing byte of a double-byte character.
    int Find(const char* sub, int start = 0) const;

    // count bytes from start (all that remain when count is negative).
    CString Mid(int start, int count = -1) const;

    // Removes trailing space, tab, line feed, vertical tab, form feed and
    // carriage return.
    void TrimRight();

private:
    std::string m_text;
};
