// kestrel.dll as it ships, loaded as the host loads it, in one process and in two (this
// program again, as `--kestrel-peer`): the file itself, its named mutex, the shared block.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "common/names.h"
#include "win/win_test.h"

namespace wintest {
namespace {

const std::string kMutexName = McbMutexName();

bool MutexExists() {
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kMutexName.c_str());
    return mutex && ::CloseHandle(mutex);
}

std::uint64_t Fnv1a(const char* path) {  // 0: unreadable
    std::ifstream in(path, std::ios::binary);
    std::uint64_t hash = 0xCBF29CE484222325;
    for (char byte; in.get(byte);) hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001B3;
    return in.eof() && hash != 0xCBF29CE484222325 ? hash : 0;
}

TEST(AddinDll, TheProductFileLoadsWithTheMutexAndAZeroBlockTheLastUnloadDropsThem) {
    ASSERT_FALSE(MutexExists()) << "another process has the add-in loaded";
    const std::uint64_t product = Fnv1a(KESTREL_PRODUCT_DLL);
    ASSERT_NE(product, 0u) << "cannot read " << KESTREL_PRODUCT_DLL;
    std::printf("%s: FNV-1a %016llx, as loaded\n", KESTREL_PRODUCT_DLL, static_cast<unsigned long long>(product));
    for (int round = 0; round < 2; ++round) {
        {
            AddinDll addin;
            ASSERT_TRUE(addin.Loaded());
            char szLoaded[MAX_PATH] = "";
            ::GetModuleFileNameA(addin.Module(), szLoaded, sizeof szLoaded);
            EXPECT_EQ(Fnv1a(szLoaded), product) << szLoaded << " is not " << KESTREL_PRODUCT_DLL;
            EXPECT_TRUE(MutexExists());
            EXPECT_EQ(addin->szNameTag + std::to_string(addin->nFirstMcb) + "," + std::to_string(*addin->pnSystemOpenCount), "KS9,0");
            const auto* bytes = reinterpret_cast<const char*>(addin->pMcbTable);
            EXPECT_EQ(std::count(bytes, bytes + sizeof(McbRecord) * MCB_COUNT, 0), sizeof(McbRecord) * MCB_COUNT);
            addin.Record(16).dwDetectorWord[15] = 0xABCD;  // gone in the next round
        }
        EXPECT_FALSE(MutexExists());
    }
}

// The peer reports in the shared table the open count at its load, after its Open and after its Close, then
// takes the add-in's mutex, says so there too, and waits to be killed.
int Peer() {
    AddinDll addin;
    if (!addin.Loaded()) return 10;
    std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
    pdwReport[1] = *addin->pnSystemOpenCount;
    addin.Call<bool>(0);
    pdwReport[2] = *addin->pnSystemOpenCount;
    addin.Call<bool>(1);
    pdwReport[3] = *addin->pnSystemOpenCount;
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kMutexName.c_str());
    if (mutex == nullptr || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 11;
    pdwReport[4] = 1;
    ::Sleep(60000);
    return 12;
}

TEST(AddinDll, AnotherProcessSharesCountTableAndMutexAndDyingHoldingItFreesIt) {
    AddinDll addin;
    ASSERT_TRUE(addin.Loaded() && addin.Call<bool>(0));
    std::uint32_t* pdwReport = addin.Record(16).dwDetectorWord;
    std::fill(pdwReport, pdwReport + 5, 0xEEEEu);
    char szProgram[MAX_PATH];
    std::string commandLine(szProgram, ::GetModuleFileNameA(nullptr, szProgram, sizeof szProgram));
    commandLine = "\"" + commandLine + "\" --kestrel-peer";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION peer{};
    ASSERT_TRUE(::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &peer));
    std::shared_ptr<void> kill(peer.hProcess, [](HANDLE process) {
        if (::TerminateProcess(process, 99)) ::WaitForSingleObject(process, 10000);
        ::CloseHandle(process);
    });
    ::CloseHandle(peer.hThread);
    for (int waited = 0; pdwReport[4] != 1 && waited < 30000; waited += 10) ::Sleep(10);
    ASSERT_EQ(pdwReport[4], 1u) << "the peer did not take the mutex";
    EXPECT_EQ(std::vector<std::uint32_t>(pdwReport + 1, pdwReport + 4), (std::vector<std::uint32_t>{1, 2, 1}))
        << "the open count at the peer's load, after its Open, after its Close";
    std::atomic<int> calls{0};
    std::thread caller([&] { for (; calls < 2; ++calls) addin.Call<std::int32_t>(13, 9); });
    ::Sleep(300);
    EXPECT_EQ(calls, 0) << "an operation ran while another process held the mutex";
    kill.reset();
    for (int waited = 0; calls < 2 && waited < 20000; waited += 10) ::Sleep(10);
    EXPECT_EQ(calls, 2) << "the abandoned mutex blocks the add-in";
    if (calls < 2) return caller.detach();  // a failed test only
    caller.join();
    EXPECT_TRUE(addin.Call<bool>(1));
    EXPECT_EQ(*addin->pnSystemOpenCount, 0);
}

}  // namespace
}  // namespace wintest

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--kestrel-peer") == 0) return wintest::Peer();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
