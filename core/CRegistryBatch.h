// The registry changes of one directory operation, in the order the operation asked for them.
// Record bodies are captured when the change is asked for, under the guard, so that they can be
// written after it has been released.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CUserData;
class CGroupData;

class CRegistryBatch {
public:
    enum class EKind { WriteUser, WriteGroup, DeleteUser, DeleteGroup };
    struct Change {
        EKind kind;
        std::u16string name;
        std::vector<uint8_t> body;
    };

    void WriteUser(const CUserData& user);
    void WriteGroup(const CGroupData& group);
    void DeleteUserValue(std::u16string name);
    void DeleteGroupValue(std::u16string name);

    bool Empty() const { return m_changes.empty(); }
    const std::vector<Change>& Changes() const { return m_changes; }
    void Clear() { m_changes.clear(); }

private:
    std::vector<Change> m_changes;
};
