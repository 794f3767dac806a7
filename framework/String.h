// CString: a byte string. The program's own texts are code page 936, paths
// are in the system's ANSI code page (the same on a Chinese system). Lengths
// and positions count bytes.
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

// The code page of the program's texts, whatever the system's ANSI code page
// is: they are converted from it explicitly wherever they reach the screen.
constexpr unsigned kTextCodePage = 936;
constexpr unsigned kSystemCodePage = 0;  // CP_ACP

std::wstring WideFromNarrow(const char* text, unsigned codePage = kTextCodePage);
// The text in codePage; *lossless (when given) tells whether every
// character could be spelt there and converts back unchanged.
CString NarrowFromWide(const wchar_t* text, unsigned codePage = kTextCodePage,
                       bool* lossless = nullptr);
