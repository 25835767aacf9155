#include "Csv.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The first separator of the first line, outside quotes, by precedence.
char separatorOf(std::string_view text) {
    bool quoted = false;
    bool semicolon = false;
    bool tab = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '\n' || c == '\r')) {
            break;
        } else if (!quoted && c == ',') {
            return ',';
        } else if (!quoted) {
            semicolon = semicolon || c == ';';
            tab = tab || c == '\t';
        }
    }
    return semicolon ? ';' : tab ? '\t' : ',';
}

}  // namespace

CsvReader::CsvReader(std::string_view text) : text_(text) {
    if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        at_ = kByteOrderMark.size();
    }
    separator_ = separatorOf(text_.substr(at_));
}

bool CsvReader::next(CsvRecord& record) {
    for (;;) {
        if (at_ >= text_.size()) {
            return false;
        }
        record.fields.assign(1, std::string());
        record.line = line_;
        bool blank = true;
        bool quotedFieldEnded = false;  // only blanks may follow, up to a separator
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            std::string& field = record.fields.back();
            if (c == '\n' || (c == '\r' && (at_ == text_.size() || text_[at_] == '\n'))) {
                at_ += c == '\r' && at_ < text_.size() ? 1 : 0;
                ++line_;
                break;
            }
            if (c == separator_) {
                if (!quotedFieldEnded) {
                    dropTrailingBlanks(field);
                }
                record.fields.emplace_back();
                quotedFieldEnded = false;
                blank = false;
                continue;
            }
            if (quotedFieldEnded) {
                if (!isBlank(c)) {
                    throw CsvError{line_, record.fields.size(),
                                   "text after the closing quote of a quoted field"};
                }
                continue;
            }
            if (c == '"' && field.empty()) {
                const std::size_t openedOnLine = line_;
                for (;;) {
                    if (at_ >= text_.size()) {
                        throw CsvError{openedOnLine, record.fields.size(),
                                       "a quoted field is not closed"};
                    }
                    const char inside = text_[at_++];
                    if (inside == '"') {
                        if (at_ < text_.size() && text_[at_] == '"') {
                            field += '"';
                            ++at_;
                            continue;
                        }
                        break;
                    }
                    line_ += inside == '\n' ? 1 : 0;
                    field += inside;
                }
                quotedFieldEnded = true;
                blank = false;
                continue;
            }
            if (!(field.empty() && isBlank(c))) {
                field += c;
            }
            blank = blank && isBlank(c);
        }
        if (!quotedFieldEnded) {
            dropTrailingBlanks(record.fields.back());
        }
        if (!blank) {
            return true;
        }
    }
}
