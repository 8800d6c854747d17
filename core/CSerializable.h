// A record that the object archive can write and read: it names its run-time class and schema,
// and writes or reads its body.
#pragma once

#include <cstdint>
#include <string_view>

class CArchiveReader;
class CArchiveWriter;

class CSerializable {
public:
    virtual ~CSerializable() = default;
    virtual std::string_view GetRuntimeClass() const = 0;
    virtual uint16_t GetSchema() const = 0;
    virtual void Serialize(CArchiveWriter& ar) const = 0;
    // Reads the body into a default-constructed record; false on the reader's first error,
    // whose kind the reader keeps.
    virtual bool Deserialize(CArchiveReader& ar) = 0;
};
