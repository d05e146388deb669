#include "tests/runtime/runtime_test_support.h"

#include "runtime/registry.h"

namespace {

const char TEST_ROOT_KEY[] = "Software\\QzTest";

class RegistryHelpers : public RuntimeService {
protected:
    void SetUp() override
    {
        RuntimeService::SetUp();
        RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOT_KEY);
    }

    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOT_KEY);
        RemoveDirectoryA((ModuleDirectoryPath() + "qz_dir\\inner").c_str());
        RemoveDirectoryA((ModuleDirectoryPath() + "qz_dir").c_str());
        DeleteFileA((ModuleDirectoryPath() + "qz_delete_me.tmp").c_str());
        RuntimeService::TearDown();
    }

    // The value's type and raw bytes, read with the registry's own calls.
    static bool QueryValue(const char* subkey, const char* name, DWORD* type, std::string* data)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        char bytes[256];
        DWORD size = sizeof bytes;
        const LONG status = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(bytes), &size);
        RegCloseKey(key);
        data->assign(bytes, size);
        return status == ERROR_SUCCESS;
    }

    static DWORD ValueCount(const char* subkey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0;
        DWORD values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        return values;
    }
};

TEST_F(RegistryHelpers, WritingTwiceKeepsOneValueWithTheSecondTextAsRegSz)
{
    const char subkey[] = "Software\\QzTest\\Zivora Varelle\\";
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, subkey, "WinAmpDir", "C:\\Program Files\\Old\\"));
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, subkey, "WinAmpDir", "D:\\Winamp\\"));

    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(QueryValue(subkey, "WinAmpDir", &type, &data));
    EXPECT_EQ(DWORD(REG_SZ), type);
    // The text and exactly one terminating zero.
    EXPECT_EQ(std::string("D:\\Winamp\\", 11), data);
    EXPECT_EQ(1u, ValueCount(subkey));
}

TEST_F(RegistryHelpers, SeveralMissingLevelsAreAllCreated)
{
    const char subkey[] = "Software\\QzTest\\one\\two\\three";
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, subkey, "Deep", "value"));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(QueryValue(subkey, "Deep", &type, &data));
    EXPECT_EQ(std::string("value", 6), data);
}

TEST_F(RegistryHelpers, MissingTextIsStoredAsOneZeroByte)
{
    const char subkey[] = "Software\\QzTest\\empty";
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, subkey, "Nothing", nullptr));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(QueryValue(subkey, "Nothing", &type, &data));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(std::string(1, '\0'), data);
}

TEST_F(RegistryHelpers, KeyThatCannotBeOpenedWritesNothingAndFreesTheCopies)
{
    const int busyBefore = HeapBusyBlocks(InstallerState.RuntimeHeap);
    HKEY const notAKey = reinterpret_cast<HKEY>(0x7FFF0000);
    EXPECT_EQ(REGISTRY_NOT_OPENED, RegistryWriteString(notAKey, "Software\\QzTest", "Value", "text"));
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, TEST_ROOT_KEY, 0, KEY_READ, &key));
}

TEST_F(RegistryHelpers, SuccessfulWriteFreesItsCopies)
{
    const int busyBefore = HeapBusyBlocks(InstallerState.RuntimeHeap);
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, TEST_ROOT_KEY, "Value", "text"));
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
}

TEST_F(RegistryHelpers, DirectoryCreateMakesOnlyTheLastComponent)
{
    const std::string base = ModuleDirectoryPath();
    EXPECT_EQ(0, DirectoryCreate((base + "qz_dir\\inner\\").c_str()));
    EXPECT_FALSE(FileExists(base + "qz_dir"));
    EXPECT_NE(0, DirectoryCreate((base + "qz_dir\\").c_str()));
    EXPECT_NE(0, DirectoryCreate((base + "qz_dir\\inner\\").c_str()));
    EXPECT_TRUE(FileExists(base + "qz_dir\\inner"));
    // An existing directory is reported as not created.
    EXPECT_EQ(0, DirectoryCreate((base + "qz_dir").c_str()));
}

TEST_F(RegistryHelpers, HelpersResolveRelativeNamesWithoutMovingTheCurrentDirectory)
{
    const std::string base = ModuleDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    WriteWholeFile(base + "qz_delete_me.tmp", "x");

    EXPECT_NE(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_FALSE(FileExists(base + "qz_delete_me.tmp"));
    EXPECT_EQ(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_NE(0, DirectoryCreate("qz_dir"));
    EXPECT_TRUE(FileExists(base + "qz_dir"));
    EXPECT_PRED2(SamePath, base, CurrentDirectoryPath());

    // From elsewhere, a relative name stays elsewhere and so does the process.
    const std::string elsewhere = ElsewhereDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    WriteWholeFile(base + "qz_delete_me.tmp", "x");
    EXPECT_EQ(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_TRUE(FileExists(base + "qz_delete_me.tmp"));
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, "Software\\QzTest", "v", "t"));
    EXPECT_PRED2(SamePath, elsewhere, CurrentDirectoryPath());
}

} // namespace
