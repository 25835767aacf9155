// The serialized form of an FMU state as the master expects it, written
// down from its description in the runtime's header rather than taken from
// it: a header naming the form, its version, the FMI version, the model
// identifier and the GUID; the state, the time and the real values; an
// FNV-1a checksum over all of that. The master writes the bytes a slave must
// produce, damages them on purpose, and works out what a slave must make of
// any bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fmuStateBytes {

constexpr char kName[] = "Chassis force slave FMU state";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kChecksumSize = 8;

// Who reads the bytes: the FMI version, model and size of a library.
struct Identity {
    std::string fmiVersion;
    std::string identifier;
    std::string guid;
    std::uint32_t realCount = 0;
};

struct Content {
    std::uint32_t state = 0;
    double time = 0.0;
    std::vector<double> reals;
};

inline std::uint64_t checksumOf(const char* bytes, std::size_t size) {
    std::uint64_t sum = 14695981039346656037ULL;
    for (std::size_t i = 0; i < size; ++i) {
        sum = (sum ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ULL;
    }
    return sum;
}

inline void appendNumber(std::vector<char>& bytes, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>(value >> (8 * i)));
    }
}

inline void appendText(std::vector<char>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back('\0');
}

inline void appendChecksum(std::vector<char>& bytes) {
    appendNumber(bytes, checksumOf(bytes.data(), bytes.size()), kChecksumSize);
}

// The bytes without their checksum, so that a test can change them and sum
// them afterwards; `realCount` may differ from the values written.
inline std::vector<char> unsummed(const Identity& who, std::uint32_t formatVersion,
                                  const Content& content, std::uint32_t realCount) {
    std::vector<char> bytes;
    appendText(bytes, kName);
    appendNumber(bytes, formatVersion, 4);
    appendText(bytes, who.fmiVersion);
    appendText(bytes, who.identifier);
    appendText(bytes, who.guid);
    appendNumber(bytes, content.state, 4);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &content.time, sizeof bits);
    appendNumber(bytes, bits, 8);
    appendNumber(bytes, realCount, 4);
    for (const double value : content.reals) {
        std::memcpy(&bits, &value, sizeof bits);
        appendNumber(bytes, bits, 8);
    }
    return bytes;
}

inline std::vector<char> serialized(const Identity& who, const Content& content) {
    std::vector<char> bytes = unsummed(who, kVersion, content, who.realCount);
    appendChecksum(bytes);
    return bytes;
}

inline std::size_t serializedSize(const Identity& who) {
    return serialized(who, Content{0, 0.0, std::vector<double>(who.realCount)}).size();
}

enum class Problem {
    None,
    NotAnFmuState,
    Damaged,
    OtherFormatVersion,
    OtherFmiVersion,
    OtherModel,
    OtherGuid
};

struct Reading {
    Problem problem = Problem::None;
    std::string found;
    std::uint32_t formatVersion = 0;
    Content content;
};

// Reads within its bytes; a read past the end fails, and so does the rest.
class Cursor {
  public:
    Cursor(const char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    std::string text() {
        for (std::size_t end = position_; end < size_; ++end) {
            if (bytes_[end] == '\0') {
                std::string value(bytes_ + position_, end - position_);
                position_ = end + 1;
                return value;
            }
        }
        failed_ = true;
        return "";
    }
    std::uint64_t number(std::size_t size) {
        if (size_ - position_ < size) {
            failed_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= std::uint64_t{static_cast<unsigned char>(bytes_[position_++])} << (8 * i);
        }
        return value;
    }
    bool failed() const {
        return failed_;
    }
    std::size_t position() const {
        return position_;
    }

  private:
    const char* bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

// What a library must make of the bytes: the first problem in the order the
// header is read, or the content. `states` are the machine states an FMU
// state may hold, one bit each.
inline Reading read(const Identity& who, std::uint32_t states, const char* bytes,
                    std::size_t size) {
    Reading reading;
    if (size < sizeof kName + kChecksumSize || std::memcmp(bytes, kName, sizeof kName) != 0) {
        reading.problem = Problem::NotAnFmuState;
        return reading;
    }
    Cursor checksum(bytes + size - kChecksumSize, kChecksumSize);
    if (checksum.number(kChecksumSize) != checksumOf(bytes, size - kChecksumSize)) {
        reading.problem = Problem::Damaged;
        return reading;
    }
    Cursor cursor(bytes, size - kChecksumSize);
    cursor.text();
    const auto formatVersion = static_cast<std::uint32_t>(cursor.number(4));
    if (cursor.failed()) {
        reading.problem = Problem::Damaged;
        return reading;
    }
    reading.formatVersion = formatVersion;
    if (formatVersion != kVersion) {
        reading.problem = Problem::OtherFormatVersion;
        return reading;
    }
    const std::string fmiVersion = cursor.text();
    const std::string identifier = cursor.text();
    const std::string guid = cursor.text();
    if (cursor.failed()) {
        reading.problem = Problem::Damaged;
    } else if (fmiVersion != who.fmiVersion) {
        reading.problem = Problem::OtherFmiVersion;
        reading.found = fmiVersion;
    } else if (identifier != who.identifier) {
        reading.problem = Problem::OtherModel;
        reading.found = identifier;
    } else if (guid != who.guid) {
        reading.problem = Problem::OtherGuid;
        reading.found = guid;
    }
    if (reading.problem != Problem::None) {
        return reading;
    }
    const auto state = static_cast<std::uint32_t>(cursor.number(4));
    const std::uint64_t timeBits = cursor.number(8);
    const std::uint64_t realCount = cursor.number(4);
    const bool oneKnownState = (state & (state - 1)) == 0 && (state & states) != 0;
    if (cursor.failed() || !oneKnownState || realCount != who.realCount ||
        cursor.position() + 8 * realCount != size - kChecksumSize) {
        reading.problem = Problem::Damaged;
        return reading;
    }
    reading.content.state = state;
    std::memcpy(&reading.content.time, &timeBits, sizeof timeBits);
    for (std::uint32_t i = 0; i < who.realCount; ++i) {
        const std::uint64_t bits = cursor.number(8);
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        reading.content.reals.push_back(value);
    }
    return reading;
}

}  // namespace fmuStateBytes
