// Persists the account directory in the per-user registry: one binary value per record under
// the user key and the group key, named by the record's name and holding its record body.
// Failures reach no operator dialog: the result of the last open, create, set or delete is kept
// in m_lLastError, and a batch that could not be written says so on standard error.
#pragma once

#include "core/CRegistryBatch.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/registry/RegistryTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CUserData;
class CGroupData;

inline constexpr std::u16string_view kUserKey = u"Software\\Tarvik\\OrvaneSrv\\Users";
inline constexpr std::u16string_view kGroupKey = u"Software\\Tarvik\\OrvaneSrv\\Groups";

class CRegistryStore {
public:
    explicit CRegistryStore(std::unique_ptr<CRegistryHive> hive);

    bool KeyExists(std::u16string_view path);
    bool CreateKey(std::u16string_view path);

    // Visits every value of the key with its name and bytes, in enumeration order. Answers
    // whether every value was read: false when the key cannot be opened or the enumeration
    // stops on an error before its end.
    using ValueVisitor =
        std::function<void(const std::u16string& name, const std::vector<uint8_t>& data)>;
    bool LoadValues(std::u16string_view key, const ValueVisitor& visit);

    bool WriteUser(const CUserData& user);
    bool WriteGroup(const CGroupData& group);
    bool DeleteUserValue(std::u16string_view name);
    bool DeleteGroupValue(std::u16string_view name);

    // Carries out a batch as one transaction, all or nothing: when the transaction cannot
    // begin, or any change fails (deleting a value that is already absent is no failure),
    // nothing is written, the failure stays in m_lLastError and standard error says so.
    // Answers whether the batch was written.
    bool Apply(const CRegistryBatch& batch);

    CRegistryHive& Hive() { return *m_pHive; }
    // The reason of the last failure, as the hive words it (or its error number).
    std::string LastFailureText() const;

    bool m_bLazyWrite = false;
    LSTATUS m_lLastError = ERROR_SUCCESS;

private:
    bool WriteValue(std::u16string_view key, std::u16string_view name,
                    const std::vector<uint8_t>& body);
    bool DeleteValue(std::u16string_view key, std::u16string_view name);
    bool ApplyChange(const CRegistryBatch::Change& change);
    bool Abandon(const char* why);

    std::unique_ptr<CRegistryHive> m_pHive;
};
