// The arguments that the calls of every FMI version read from the input
// alike, as CallEncoding.h lays them out: the instance a call goes to, the
// name of a new instance, the arrays of the value-access and derivative
// calls, a status kind, and what the logger is armed to do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "FmuStateBytes.h"
#include "Input.h"
#include "Master.h"

// The model and slot a call is made on, and the instance there: null for an
// empty slot and for the slot that stands for a null component.
struct Target {
    int model;
    int slot;
    Instance* instance;
};

inline Target readTarget(World& world, Input& in, int fmiVersion) {
    const std::uint8_t b = in.byte();
    const int model = modelOfTarget(b);
    const int slot = slotOfTarget(b);
    Instance* instance = nullptr;
    auto& occupant = world.slots[libraryOf(fmiVersion, model)];
    if (slot != kNullSlot && occupant[slot]) {
        instance = &*occupant[slot];
    }
    return {model, slot, instance};
}

// The slot a new instance goes to; there is no null one.
struct NewTarget {
    int model;
    int slot;
};

inline NewTarget readNewTarget(Input& in) {
    const std::uint8_t b = in.byte();
    return {modelOfTarget(b), slotOfTarget(b) % kSlotsPerModel};
}

struct InstanceName {
    NameKind kind = kNameGenerated;
    std::string inputName;
};

inline InstanceName readInstanceName(Input& in) {
    InstanceName name;
    name.kind = nameKindOf(in.byte());
    if (name.kind == kNameFromInput) {
        const std::size_t length = in.byte() % (kMaxInputNameLength + 1);
        for (std::size_t i = 0; i < length; ++i) {
            name.inputName.push_back(static_cast<char>(in.byte()));
        }
        // What the slave sees is the C string up to the first NUL.
        name.inputName = name.inputName.c_str();
    }
    return name;
}

// What an element of a Set call gets from the input.
inline void readValue(Input& in, double& value) {
    value = in.real();
}
inline void readValue(Input& in, int& value) {
    value = static_cast<int>(in.u32());
}
inline void readValue(Input& in, char& value) {
    value = static_cast<char>(in.byte());
}
inline void readValue(Input& in, const char*& value) {
    std::size_t count = 0;
    const char* const* strings = stringTable(count);
    value = strings[in.byte() % count];
}

// What the master's array holds before a Get writes it, type by type.
template <typename Value>
Value untouchedValue();
template <>
inline double untouchedValue<double>() {
    return realFromBits(kUntouchedBits);
}
template <>
inline int untouchedValue<int>() {
    return 0x5a5a5a5a;
}
template <>
inline char untouchedValue<char>() {
    return 0x5a;
}
template <>
inline const char* untouchedValue<const char*>() {
    return "untouched";
}

// The arrays of a value-access call: references from the input, values from
// the input for a Set, the untouched pattern for a Get.
template <typename Value>
struct AccessArrays {
    std::size_t nvr = 0;
    std::unique_ptr<std::uint32_t[]> vr;
    std::unique_ptr<Value[]> value;
};

template <typename Value>
AccessArrays<Value> readAccessArrays(Input& in, bool isSet) {
    AccessArrays<Value> a;
    bool huge = false;
    a.nvr = in.nvr(huge);
    std::uint8_t nulls = in.nullArrays();
    if (huge) {
        // No array can hold that many elements; a null vr[] is refused
        // before either array is looked at.
        nulls |= kNullVr | kNullValue;
    }
    if ((nulls & kNullVr) == 0) {
        a.vr = masterArray<std::uint32_t>(a.nvr, 0);
        for (std::size_t i = 0; i < a.nvr; ++i) {
            a.vr[i] = in.valueReference();
        }
    }
    if ((nulls & kNullValue) == 0) {
        a.value = masterArray<Value>(a.nvr, untouchedValue<Value>());
        for (std::size_t i = 0; isSet && i < a.nvr; ++i) {
            readValue(in, a.value[i]);
        }
    }
    return a;
}

// The arrays of the input and output derivative calls, which neither call
// may read but value[] of the output derivatives.
struct DerivativeArrays {
    std::size_t nvr = 0;
    std::unique_ptr<std::uint32_t[]> vr;
    std::unique_ptr<int[]> order;
    std::unique_ptr<double[]> value;
};

inline DerivativeArrays readDerivativeArrays(Input& in) {
    DerivativeArrays a;
    bool huge = false;
    a.nvr = in.nvr(huge);
    std::uint8_t nulls = in.nullArrays();
    if (huge) {
        nulls |= kNullVr | kNullValue | kNullOrder;
    }
    if ((nulls & kNullVr) == 0) {
        a.vr = masterArray<std::uint32_t>(a.nvr, 0xffffffffU);
    }
    if ((nulls & kNullOrder) == 0) {
        a.order = masterArray<int>(a.nvr, 1);
    }
    if ((nulls & kNullValue) == 0) {
        a.value = masterArray<double>(a.nvr, realFromBits(kUntouchedBits));
    }
    return a;
}

inline int readStatusKind(Input& in) {
    const std::uint8_t b = in.byte();
    return b < kRawStatusKind ? b % 4 : static_cast<int>(in.u32());
}

// Arms the logger of an instance of either version to call back into it.
inline void readReentry(World& world, Input& in) {
    const std::uint8_t b = in.byte();
    const int model = modelOfTarget(b);
    const int slot = slotOfTarget(b);
    auto& occupant = world.slots[libraryOf(fmiVersionOfTarget(b), model)];
    Instance* const s = slot != kNullSlot && occupant[slot] ? &*occupant[slot] : nullptr;
    const auto action = static_cast<ReentryAction>(in.byte() % 4);
    fmiBoolean flag = fmiFalse;
    fmiValueReference vr = 0;
    fmiReal value = 0.0;
    if (action == kReentrySetDebugLogging) {
        flag = static_cast<fmiBoolean>(in.byte());
    } else if (action != kReentryNone) {
        vr = in.valueReference();
        if (action == kReentrySetReal) {
            value = in.real();
        }
    }
    if (s != nullptr) {
        s->armed = action;
        s->reentry = action;
        s->reentryFlag = flag;
        s->reentryReference = vr;
        s->reentryValue = value;
    }
}

inline int modelOfIdentifier(const std::string& identifier) {
    for (int model = 0; model < kModelCount; ++model) {
        if (identifier == definitionOf(model).modelIdentifier) {
            return model;
        }
    }
    return 0;
}

inline std::uint32_t readMachineState(Input& in) {
    const std::uint8_t b = in.byte();
    return b < kRawMachineState ? std::uint32_t{1} << (b % 5) : in.u32();
}

// The master's own bytes for a content it chooses, or damaged ones, for a
// library of `reader`'s identity; a damage that names another FMI version
// picks one of otherVersions.
inline std::vector<char> writtenBytes(Input& in, const fmuStateBytes::Identity& reader,
                                      const Instance* s, bool damaged,
                                      const char* const (&otherVersions)[3]) {
    fmuStateBytes::Identity who = reader;
    const int model = modelOfIdentifier(reader.identifier);
    fmuStateBytes::Content content;
    content.state = readMachineState(in);
    content.time = in.real();
    content.reals = s != nullptr ? s->reals : factsOf(model).freshValues();
    if (!damaged) {
        return fmuStateBytes::serialized(who, content);
    }
    const auto damage = static_cast<Damage>(in.byte() % kDamageCount);
    const std::uint8_t at = in.byte();
    std::uint32_t formatVersion = fmuStateBytes::kVersion;
    std::uint32_t realCount = who.realCount;
    const int other = (model + 1) % kModelCount;
    switch (damage) {
        case kFlipByte:
        case kTruncate:
        case kAppendByte: {
            std::vector<char> bytes = fmuStateBytes::serialized(who, content);
            const std::size_t position = at * bytes.size() / 256;
            if (damage == kFlipByte) {
                bytes[position] = static_cast<char>(bytes[position] ^ 0xa5);
            } else if (damage == kTruncate) {
                bytes.resize(position);
            } else {
                bytes.push_back(static_cast<char>(at));
            }
            return bytes;
        }
        case kOtherFormatVersion:
            formatVersion = in.u32();
            break;
        case kOtherFmiVersion:
            who.fmiVersion = otherVersions[at % 3];
            break;
        case kOtherModel:
            who.identifier = factsOf(other).identifier;
            break;
        case kOtherGuid:
            who.guid = factsOf(other).guid;
            break;
        default:
            realCount = at % 2 == 0 ? realCount + 1 : realCount - 1;
            break;
    }
    std::vector<char> bytes = fmuStateBytes::unsummed(who, formatVersion, content, realCount);
    fmuStateBytes::appendChecksum(bytes);
    return bytes;
}

// The bytes a master hands to the reading of a serialized FMU state, by
// their source byte; the bytes a slave of any version serialized last
// included.
inline std::vector<char> readSerializedBytes(World& world, Input& in,
                                             const fmuStateBytes::Identity& reader,
                                             const Instance* s,
                                             const char* const (&otherVersions)[3]) {
    switch (static_cast<BytesSource>(in.byte() % 4)) {
        case kBytesWritten:
            return writtenBytes(in, reader, s, false, otherVersions);
        case kBytesSerialized:
            return world.serialized;
        case kBytesRaw: {
            std::vector<char> bytes;
            const std::size_t length = in.byte();
            for (std::size_t i = 0; i < length; ++i) {
                bytes.push_back(static_cast<char>(in.byte()));
            }
            return bytes;
        }
        default:
            return writtenBytes(in, reader, s, true, otherVersions);
    }
}

// fmiXSetReal or fmiXGetReal of 1.0 and 2.0, which read alike.
template <typename Real, typename SetReal, typename GetReal>
void runRealAccess(World& world, Input& in, int fmiVersion, bool isSet, SetReal setReal,
                   GetReal getReal) {
    const Target t = readTarget(world, in, fmiVersion);
    const AccessArrays<Real> a = readAccessArrays<Real>(in, isSet);
    if (isSet) {
        setReal(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
    } else {
        getReal(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
    }
}

// What the 2.0 and 3.0 calls on an FMU state read first: the instance, the
// FMU state's handle byte and the flags byte (kNullPointer and what the
// call puts above it).
struct FmuStateArguments {
    Target target;
    std::uint8_t choice;
    std::uint8_t flags;

    bool nullPointer() const {
        return (flags & kNullPointer) != 0;
    }
};

inline FmuStateArguments readFmuStateArguments(World& world, Input& in, int fmiVersion) {
    const Target t = readTarget(world, in, fmiVersion);
    const std::uint8_t choice = in.byte();
    return {t, choice, in.byte()};
}

// fmiXFreeFMUstate, fmiXSerializedFMUstateSize and fmiXSerializeFMUstate of
// 2.0 and 3.0, which read alike.
template <typename FreeFmuState, typename SerializedSize, typename Serialize>
void runFmuStateCall(World& world, Input& in, int fmiVersion, bool isFree, bool isSize,
                     FreeFmuState freeFmuState, SerializedSize serializedSize,
                     Serialize serialize) {
    const FmuStateArguments a = readFmuStateArguments(world, in, fmiVersion);
    const Target& t = a.target;
    if (isFree) {
        freeFmuState(world, t.model, t.slot, t.instance, a.choice, a.nullPointer());
    } else if (isSize) {
        serializedSize(world, t.model, t.slot, t.instance, a.choice, a.nullPointer());
    } else {
        serialize(world, t.model, t.slot, t.instance, a.choice, a.flags >> 1, a.nullPointer());
    }
}
