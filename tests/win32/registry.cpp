// The registry: keys and values in memory, each key readable by anyone and writable unless
// a test makes it read-only.
#include "tests/win32/machine.h"

#include <string.h>

const uintptr_t kFirstKeyHandle = 0x1000;

static SimKey* FindKey(HKEY root, const std::string& path)
{
    for (auto& key : gSim.keys) {
        if (key.root == root && SimSameText(key.path, path))
            return &key;
    }
    return nullptr;
}

static SimValue* FindValue(HKEY root, const std::string& key, const std::string& name)
{
    for (auto& value : gSim.values) {
        if (value.root == root && SimSameText(value.key, key) && SimSameText(value.name, name))
            return &value;
    }
    return nullptr;
}

static const std::pair<HKEY, std::string>* FromHandle(HKEY key)
{
    uintptr_t index = reinterpret_cast<uintptr_t>(key) - kFirstKeyHandle;
    return index < gSim.handles.size() ? &gSim.handles[index] : nullptr;
}

static HKEY NewHandle(HKEY root, const std::string& path)
{
    gSim.handles.emplace_back(root, path);
    ++gSim.openKeys;
    return reinterpret_cast<HKEY>(kFirstKeyHandle + gSim.handles.size() - 1);
}

static bool AsksToWrite(REGSAM access)
{
    return (access & ~static_cast<REGSAM>(0x20019)) != 0;  // more than KEY_READ
}

void SimAddKey(HKEY root, const std::string& path, bool readOnly)
{
    if (SimKey* key = FindKey(root, path))
        key->readOnly = readOnly;
    else
        gSim.keys.push_back({root, path, readOnly});
}

void SimSetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                 const std::string& bytes)
{
    if (!FindKey(root, key))
        SimAddKey(root, key);
    if (SimValue* value = FindValue(root, key, name))
        *value = {root, key, name, type, bytes};
    else
        gSim.values.push_back({root, key, name, type, bytes});
}

const SimValue* SimFindValue(HKEY root, const std::string& key, const std::string& name)
{
    return FindValue(root, key, name);
}

bool SimKeyExists(HKEY root, const std::string& path)
{
    return FindKey(root, path) != nullptr;
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM access, HKEY* key)
{
    SimLog(std::string("RegOpenKeyExA ") + subKey);
    if (SimFails("RegOpenKeyExA"))
        return ERROR_ACCESS_DENIED;
    SimKey* found = FindKey(root, subKey);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    if (found->readOnly && AsksToWrite(access))
        return ERROR_ACCESS_DENIED;
    *key = NewHandle(root, subKey);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* key, DWORD*)
{
    SimLog(std::string("RegCreateKeyExA ") + subKey);
    if (SimFails("RegCreateKeyExA") || keyClass != nullptr || security != nullptr ||
        options != REG_OPTION_NON_VOLATILE)
        return ERROR_ACCESS_DENIED;
    SimKey* found = FindKey(root, subKey);
    if (found && found->readOnly && AsksToWrite(access))
        return ERROR_ACCESS_DENIED;
    if (!found)
        SimAddKey(root, subKey);
    *key = NewHandle(root, subKey);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    const auto* open = FromHandle(key);
    SimLog(std::string("RegQueryValueExA ") + name);
    if (SimFails("RegQueryValueExA") || !open) {
        if (data && size)
            memset(data, 0xCC, *size);  // what a failed read leaves is never to be trusted
        return ERROR_ACCESS_DENIED;
    }
    const SimValue* value = FindValue(open->first, open->second, name);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    DWORD needed = static_cast<DWORD>(value->bytes.size());
    if (data && size && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data && size)
        memcpy(data, value->bytes.data(), needed);  // no NUL added: the caller terminates
    if (size)
        *size = needed;
    if (auto rewrite = std::move(gSim.afterFirstRead)) {
        gSim.afterFirstRead = nullptr;
        rewrite();
    }
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    const auto* open = FromHandle(key);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    SimLog(std::string("RegSetValueExA ") + name);
    if (SimFails("RegSetValueExA") || !open)
        return ERROR_ACCESS_DENIED;
    SimSetValue(open->first, open->second, name, type, bytes);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (!FromHandle(key))
        return ERROR_ACCESS_DENIED;
    --gSim.openKeys;
    return ERROR_SUCCESS;
}
