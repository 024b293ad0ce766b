#include "launcher/http/http_head.h"

#include "channel/case_folding.h"

#include <cctype>

std::string trimmed(const std::string& text)
{
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool parseStatusLine(const std::string& statusLine, AnswerHead& answer, bool& keepsOpen)
{
    if (statusLine.size() < 12 || statusLine.compare(0, 7, "HTTP/1.") != 0 || statusLine[8] != ' ' ||
        !std::isdigit(static_cast<unsigned char>(statusLine[9])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[10])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[11])) || (statusLine.size() > 12 && statusLine[12] != ' '))
        return false;
    const int status = std::stoi(statusLine.substr(9, 3));
    if (status < 100)  // no class of answers starts with 0
        return false;
    answer.status = status;
    keepsOpen = statusLine[7] == '1';  // HTTP/1.0 closes unless asked otherwise, and we never ask
    return true;
}

bool takeField(const std::string& line, AnswerHead& answer, std::string& transferCoding, bool& keepsOpen)
{
    const std::string::size_type colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string name = lowerCase(line.substr(0, colon));
    const std::string value = line.substr(colon + 1);
    if (name == "content-length") {
        // Two lengths that differ frame two bodies: no reading of them can be trusted.
        if (!answer.contentLength.empty() && answer.contentLength != trimmed(value))
            return false;
        answer.contentLength = trimmed(value);
    } else if (name == "content-range") {
        answer.contentRange = trimmed(value);
    } else if (name == "etag") {
        answer.etag = trimmed(value);
    } else if (name == "last-modified") {
        answer.lastModified = trimmed(value);
    } else if (name == "transfer-encoding") {  // fields given twice count as one list
        transferCoding += (transferCoding.empty() ? "" : ", ") + lowerCase(trimmed(value));
    } else if (name == "connection" && lowerCase(value).find("close") != std::string::npos) {
        keepsOpen = false;
    }
    return true;
}

bool parseHead(const std::string& head, AnswerHead& answer, Framing& framing, bool& keepsOpen)
{
    std::string::size_type lineEnd = head.find("\r\n");
    if (!parseStatusLine(head.substr(0, lineEnd), answer, keepsOpen))
        return false;
    std::string transferCoding;
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::string::size_type start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        if (!takeField(head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start), answer,
                       transferCoding, keepsOpen))
            return false;
    }
    if (!transferCoding.empty()) {
        // Chunked is the only coding a static file server applies; any other would be read as the file.
        if (transferCoding != "chunked")
            return false;
        framing = Framing::chunked;
        answer.contentLength.clear();  // the chunks frame the body, not a length
    } else {
        framing = answer.contentLength.empty() ? Framing::toClose : Framing::length;
    }
    // These never have a body, whatever their fields say.
    if (answer.status == 204 || answer.status == 304 || answer.status < 200) {
        framing = Framing::length;
        answer.contentLength = "0";
    }
    return true;
}

bool parseChunkSize(const std::string& line, unsigned long long& size)
{
    const std::string digits = trimmed(line.substr(0, line.find(';')));
    if (digits.empty() || digits.size() > 15)
        return false;
    size = 0;
    for (const char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        size = size * 16 + static_cast<unsigned long long>(digit);
    }
    return true;
}
