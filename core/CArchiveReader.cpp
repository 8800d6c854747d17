#include "core/CArchiveReader.h"

#include "core/CGroupData.h"
#include "core/CUserData.h"
#include "platform/text/TextConv.h"

namespace {

constexpr uint64_t kMaxTextLength = 0x7FFFFFFF;
constexpr uint16_t kMaxClassNameLength = 64;

} // namespace

bool CArchiveReader::Fail(EArchiveError error) {
    if (m_error == EArchiveError::None) {
        m_error = error;
    }
    return false;
}

bool CArchiveReader::ReadByte(uint8_t& v) {
    if (m_error != EArchiveError::None) {
        return false;
    }
    if (Remaining() < 1) {
        return Fail(EArchiveError::EndOfFile);
    }
    v = m_bytes[m_nPos++];
    return true;
}

template <typename T>
bool CArchiveReader::ReadNumber(T& v) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        uint8_t b = 0;
        if (!ReadByte(b)) {
            return false;
        }
        value |= static_cast<T>(static_cast<T>(b) << (8 * i));
    }
    v = value;
    return true;
}

bool CArchiveReader::ReadTextLength(uint64_t& length, bool& wide) {
    wide = false;
    uint8_t b = 0;
    if (!ReadByte(b)) {
        return false;
    }
    if (b < 0xFF) {
        length = b;
        return true;
    }
    uint16_t w = 0;
    if (!ReadNumber(w)) {
        return false;
    }
    if (w == 0xFFFE) {
        wide = true;
        if (!ReadByte(b)) {
            return false;
        }
        if (b < 0xFF) {
            length = b;
            return true;
        }
        if (!ReadNumber(w)) {
            return false;
        }
    }
    if (w < 0xFFFF) {
        length = w;
        return true;
    }
    uint32_t d = 0;
    if (!ReadNumber(d)) {
        return false;
    }
    if (d < 0xFFFFFFFF) {
        length = d;
        return true;
    }
    uint64_t q = 0;
    if (!ReadNumber(q)) {
        return false;
    }
    if (q > kMaxTextLength) {
        return Fail(EArchiveError::Generic);
    }
    length = q;
    return true;
}

bool CArchiveReader::ReadText(std::u16string& text) {
    uint64_t length = 0;
    bool wide = false;
    if (!ReadTextLength(length, wide)) {
        return false;
    }
    const uint64_t bytes = wide ? 2 * length : length;
    if (bytes > Remaining()) {
        return Fail(EArchiveError::EndOfFile);
    }
    const uint8_t* p = m_bytes.data() + m_nPos;
    m_nPos += bytes;
    if (!wide) {
        text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), bytes));
        return true;
    }
    text.resize(length);
    for (uint64_t i = 0; i < length; ++i) {
        text[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    return true;
}

bool CArchiveReader::ReadCount(uint32_t& count) {
    uint16_t w = 0;
    if (!ReadNumber(w)) {
        return false;
    }
    if (w != 0xFFFF) {
        count = w;
        return true;
    }
    return ReadNumber(count);
}

bool CArchiveReader::ReadTextList(std::vector<std::u16string>& list) {
    uint32_t count = 0;
    if (!ReadCount(count)) {
        return false;
    }
    // Each text takes at least one byte, so the loop is bounded by the data, not by the count.
    for (uint32_t i = 0; i < count; ++i) {
        std::u16string text;
        if (!ReadText(text)) {
            return false;
        }
        list.push_back(std::move(text));
    }
    return true;
}

bool CArchiveReader::ReadsSchema(uint16_t schema) const {
    return m_objectSchema ? *m_objectSchema >= schema : !AtEnd();
}

bool CArchiveReader::ReadNewClass(std::size_t& slot) {
    uint16_t schema = 0;
    uint16_t length = 0;
    if (!ReadNumber(schema) || !ReadNumber(length)) {
        m_error = EArchiveError::None;
        return Fail(EArchiveError::BadClass);
    }
    if (length >= kMaxClassNameLength || length > Remaining()) {
        return Fail(EArchiveError::BadClass);
    }
    std::string className(reinterpret_cast<const char*>(m_bytes.data() + m_nPos), length);
    m_nPos += length;
    // Each class reads its own older schemas; a newer one is another copy's format.
    uint16_t newest = 0;
    if (className == CUserData::kClassName) {
        newest = CUserData::kSchema;
    } else if (className == CGroupData::kClassName) {
        newest = CGroupData::kSchema;
    } else {
        return Fail(EArchiveError::BadClass);
    }
    if (schema > newest) {
        return Fail(EArchiveError::BadSchema);
    }
    slot = m_slots.size();
    m_slots.push_back(Slot{true, std::move(className), schema});
    return true;
}

bool CArchiveReader::MakeRecord(std::size_t classSlot, std::unique_ptr<CSerializable>& object) {
    if (m_slots[classSlot].className == CUserData::kClassName) {
        object = std::make_unique<CUserData>();
    } else {
        object = std::make_unique<CGroupData>();
    }
    const uint16_t schema = m_slots[classSlot].nSchema;
    m_slots.push_back(Slot{false, {}});
    m_objectSchema = schema;
    const bool bRead = object->Deserialize(*this);
    m_objectSchema.reset();
    if (!bRead) {
        object.reset();
        return false;
    }
    return true;
}

bool CArchiveReader::ReadObject(std::unique_ptr<CSerializable>& object, EObjectKind& kind) {
    object.reset();
    uint16_t t = 0;
    if (!ReadNumber(t)) {
        return false;
    }
    if (t == 0xFFFF) {
        std::size_t slot = 0;
        if (!ReadNewClass(slot)) {
            return false;
        }
        kind = EObjectKind::New;
        return MakeRecord(slot, object);
    }
    uint32_t index = 0;
    bool bClass = false;
    if (t == 0x7FFF) {
        uint32_t d = 0;
        if (!ReadNumber(d)) {
            return false;
        }
        bClass = (d & 0x80000000u) != 0;
        index = d & 0x7FFFFFFFu;
    } else {
        bClass = (t & 0x8000) != 0;
        index = t & 0x7FFF;
    }
    if (index >= m_slots.size() || m_slots[index].bClass != bClass || (bClass && index == 0)) {
        return Fail(EArchiveError::BadIndex);
    }
    if (bClass) {
        kind = EObjectKind::New;
        return MakeRecord(index, object);
    }
    kind = index == 0 ? EObjectKind::Absent : EObjectKind::Reference;
    return true;
}
