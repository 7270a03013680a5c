#pragma once
// The tool's own exception: one message, copied when it is raised. It is
// raised and caught only inside the download worker and the serial open.

#include <exception>
#include <string>

class CException : public std::exception {};

class CMyException : public CException {
public:
    explicit CMyException(const char* message) : m_strMessage(message ? message : "") {}
    explicit CMyException(const std::string& message) : m_strMessage(message) {}
    const char* what() const noexcept override { return m_strMessage.c_str(); }
    const std::string& Message() const { return m_strMessage; }

private:
    std::string m_strMessage;
};
