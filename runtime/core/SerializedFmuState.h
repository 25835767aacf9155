// The serialized form of an FMU state, the same for every FMI version from
// 2.0 on. A header names the format, its version, the FMI version, the model
// identifier and the GUID; the instance's state of the call sequence, its
// time and its real values follow; a checksum over everything before it ends
// the bytes. Numbers are little-endian and reals their binary64 bits, so the
// bytes mean the same on every platform. A reader checks the header against
// its own library and the checksum against the bytes, so that bytes of
// another model, another FMI version or damaged bytes are refused with a
// message that says which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ModelDefinition.h"

namespace fmuStateFormat {
constexpr char kName[] = "Chassis force slave FMU state";
constexpr std::uint32_t kVersion = 1;
}  // namespace fmuStateFormat

// What an FMU state holds besides the model's identity.
struct FmuStateContent {
    std::uint32_t machineState;
    Real time;
    Real* realValues;  // realCount entries
};

enum class FmuStateProblem : std::uint8_t {
    None,
    NotAnFmuState,
    Damaged,
    OtherFormatVersion,
    OtherFmiVersion,
    OtherModel,
    OtherGuid,
};

// The outcome of reading serialized bytes; `found` is the differing text in
// the bytes (FMI version, model identifier or GUID), `formatVersion` the
// version the bytes were written in.
struct FmuStateReading {
    FmuStateProblem problem;
    const char* found;
    std::uint32_t formatVersion;
};

namespace fmuStateFormat_detail {

constexpr std::size_t kChecksumSize = 8;

inline std::uint64_t checksumOf(const unsigned char* bytes, std::size_t size) {
    // FNV-1a: every byte changes the sum, and it needs no table.
    std::uint64_t sum = 14695981039346656037ULL;
    for (std::size_t i = 0; i < size; ++i) {
        sum = (sum ^ bytes[i]) * 1099511628211ULL;
    }
    return sum;
}

inline std::size_t textSize(const char* text) {
    return std::strlen(text) + 1;
}

class Writer {
  public:
    explicit Writer(unsigned char* bytes) : bytes_(bytes) {}

    void text(const char* value) {
        const std::size_t size = textSize(value);
        std::memcpy(bytes_ + position_, value, size);
        position_ += size;
    }
    void number(std::uint64_t value, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            bytes_[position_++] = static_cast<unsigned char>(value >> (8 * i));
        }
    }
    void real(const Real* value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, value, sizeof bits);
        number(bits, sizeof bits);
    }
    std::size_t position() const {
        return position_;
    }

  private:
    unsigned char* bytes_;
    std::size_t position_ = 0;
};

// Reads within `size` bytes only; a read past the end fails and every later
// read fails too.
class Reader {
  public:
    Reader(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    const char* text() {
        const void* end =
            position_ < size_ ? std::memchr(bytes_ + position_, '\0', size_ - position_) : nullptr;
        if (end == nullptr) {
            failed_ = true;
            return "";
        }
        const char* value = reinterpret_cast<const char*>(bytes_ + position_);
        position_ = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - bytes_) + 1;
        return value;
    }
    std::uint64_t number(std::size_t size) {
        if (position_ > size_ || size_ - position_ < size) {
            failed_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= std::uint64_t{bytes_[position_++]} << (8 * i);
        }
        return value;
    }
    void real(Real* value) {
        const std::uint64_t bits = number(sizeof bits);
        std::memcpy(value, &bits, sizeof bits);
    }
    bool failed() const {
        return failed_;
    }
    std::size_t position() const {
        return position_;
    }

  private:
    const unsigned char* bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace fmuStateFormat_detail

inline std::size_t serializedFmuStateSize(const ModelDefinition& model, const char* fmiVersion) {
    using namespace fmuStateFormat_detail;
    return sizeof fmuStateFormat::kName + 4 + textSize(fmiVersion) +
           textSize(model.modelIdentifier) + textSize(model.modelGuid) + 4 + 8 + 4 +
           8 * std::size_t{model.realCount} + kChecksumSize;
}

// Writes exactly serializedFmuStateSize() bytes.
inline void serializeFmuState(const ModelDefinition& model, const char* fmiVersion,
                              const FmuStateContent& content, unsigned char* bytes) {
    using namespace fmuStateFormat_detail;
    Writer writer(bytes);
    writer.text(fmuStateFormat::kName);
    writer.number(fmuStateFormat::kVersion, 4);
    writer.text(fmiVersion);
    writer.text(model.modelIdentifier);
    writer.text(model.modelGuid);
    writer.number(content.machineState, 4);
    writer.real(&content.time);
    writer.number(model.realCount, 4);
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        writer.real(&content.realValues[vr]);
    }
    writer.number(checksumOf(bytes, writer.position()), kChecksumSize);
}

// Checks the bytes against this library and, when they fit, fills content
// (machine state, time and values); content is left alone otherwise. The
// machine state must be one of the bits of machineStates. Null realValues
// in content only checks the bytes and reads the machine state and time.
inline FmuStateReading deserializeFmuState(const ModelDefinition& model, const char* fmiVersion,
                                           std::uint32_t machineStates, const unsigned char* bytes,
                                           std::size_t size, FmuStateContent& content) {
    using namespace fmuStateFormat_detail;
    const FmuStateReading fits{FmuStateProblem::None, "", fmuStateFormat::kVersion};
    if (size < sizeof fmuStateFormat::kName + kChecksumSize ||
        std::memcmp(bytes, fmuStateFormat::kName, sizeof fmuStateFormat::kName) != 0) {
        return {FmuStateProblem::NotAnFmuState, "", 0};
    }
    Reader checksum(bytes + size - kChecksumSize, kChecksumSize);
    if (checksum.number(kChecksumSize) != checksumOf(bytes, size - kChecksumSize)) {
        return {FmuStateProblem::Damaged, "", 0};
    }
    Reader reader(bytes, size - kChecksumSize);
    reader.text();
    const auto formatVersion = static_cast<std::uint32_t>(reader.number(4));
    if (reader.failed()) {
        return {FmuStateProblem::Damaged, "", 0};
    }
    if (formatVersion != fmuStateFormat::kVersion) {
        return {FmuStateProblem::OtherFormatVersion, "", formatVersion};
    }
    const char* const writtenFmiVersion = reader.text();
    const char* const modelIdentifier = reader.text();
    const char* const modelGuid = reader.text();
    if (reader.failed()) {
        return {FmuStateProblem::Damaged, "", formatVersion};
    }
    if (std::strcmp(writtenFmiVersion, fmiVersion) != 0) {
        return {FmuStateProblem::OtherFmiVersion, writtenFmiVersion, formatVersion};
    }
    if (std::strcmp(modelIdentifier, model.modelIdentifier) != 0) {
        return {FmuStateProblem::OtherModel, modelIdentifier, formatVersion};
    }
    if (std::strcmp(modelGuid, model.modelGuid) != 0) {
        return {FmuStateProblem::OtherGuid, modelGuid, formatVersion};
    }
    const auto machineState = static_cast<std::uint32_t>(reader.number(4));
    Real time = 0.0;
    reader.real(&time);
    const auto realCount = reader.number(4);
    const bool oneKnownState =
        (machineState & (machineState - 1)) == 0 && (machineState & machineStates) != 0;
    if (reader.failed() || !oneKnownState || realCount != model.realCount ||
        reader.position() + 8 * realCount != size - kChecksumSize) {
        return {FmuStateProblem::Damaged, "", formatVersion};
    }
    content.machineState = machineState;
    content.time = time;
    if (content.realValues == nullptr) {
        return fits;
    }
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        reader.real(&content.realValues[vr]);
    }
    return fits;
}
