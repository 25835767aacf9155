// The records of a CSV text as spreadsheet programs write them (RFC 4180):
// fields separated by commas, records by CRLF or LF, a field in double quotes
// may hold separators, line breaks and doubled quotes. Spaces and tabs around
// a field are dropped, and a UTF-8 byte-order mark at the start is skipped.
// Spreadsheets set to a language with a decimal comma separate fields by
// semicolons instead, and other tools by tabs: the separator is the first
// line's comma, else its semicolon, else its tab.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct CsvRecord {
    std::vector<std::string> fields;  // unquoted
    std::size_t line = 0;             // where the record starts, from 1
};

// Malformed quoting: where it is (line, field from 1) and what is wrong.
struct CsvError {
    std::size_t line = 0;
    std::size_t field = 0;
    std::string message;
};

class CsvReader {
  public:
    explicit CsvReader(std::string_view text);

    char separator() const {
        return separator_;
    }

    // The next record that is not blank; false at the end. Throws CsvError.
    bool next(CsvRecord& record);

  private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
    char separator_ = ',';

    bool isBlank(char c) const {
        return c == ' ' || (c == '\t' && separator_ != '\t');
    }
    void dropTrailingBlanks(std::string& field) const {
        while (!field.empty() && isBlank(field.back())) {
            field.pop_back();
        }
    }
};
