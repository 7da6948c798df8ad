// The engine types and lookups as the plugin relies on them, against the
// devhost: buffers released exactly once, unknown names refused, UTF-8.
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

#include "host/framework.h"
#include "host/module_path.h"
#include "host/symbols.h"
#include "host/ue_types.h"
#include "support/host_test.h"

namespace {

class HostTypesTest : public quillmoor_test::HostTest {
 protected:
  std::size_t Outstanding() { return host().allocator().OutstandingBlocks(); }
};

TEST_F(HostTypesTest, EngineBuffersAreReleasedExactlyOnceAlsoWhenUnwinding) {
  const std::size_t before = Outstanding();
  {
    FString a(L"Quillmoor_AutoGC");
    EXPECT_EQ(Outstanding(), before + 1);
    EXPECT_EQ(std::wstring(*a), L"Quillmoor_AutoGC");
    EXPECT_EQ(a.Len(), 16);
    FString b(std::move(a));  // one owner after a move
    FString c(L"x");
    c = std::move(b);  // c's old buffer goes, b's moves in
    EXPECT_EQ(Outstanding(), before + 1);
  }
  EXPECT_EQ(Outstanding(), before);

  EXPECT_THROW(
      {
        FString held(L"held while an exception passes");
        TArray<AActor*> actors =
            AsaApi::GetApiUtils().GetAllActorsInRange({}, 1.0f, EServerOctreeGroup::STRUCTURES);
        throw std::runtime_error("unwind");
      },
      std::runtime_error);
  EXPECT_EQ(Outstanding(), before);
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
}

TEST_F(HostTypesTest, EveryEngineSymbolResolvesAndUnknownNamesThrowNamingTheSymbol) {
  for (auto name : {Symbols::kForceGarbageCollection, Symbols::kExecuteConsoleCommand,
                    Symbols::kSendMessage, Symbols::kFree}) {
    EXPECT_NE(GetAddress(name), nullptr) << name;
  }
  EXPECT_NE(GetDataAddress(Symbols::kGEngine), nullptr);
  EXPECT_NE(GetDataAddress(Symbols::kGUObjectArray), nullptr);
  alignas(16) unsigned char actor[1024] = {};
  EXPECT_NE(GetAddress(actor, Symbols::kNetUpdateFrequency),
            GetAddress(actor, Symbols::kMinNetUpdateFrequency));

  auto expect_refused = [](auto lookup, const std::string& name) {
    try {
      lookup();
      ADD_FAILURE() << "no exception for " << name;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  };
  expect_refused([] { GetAddress("UEngine.Exec(bool)"); }, "UEngine.Exec(bool)");
  expect_refused([] { GetDataAddress("Global.GWorld"); }, "Global.GWorld");
  expect_refused([&] { GetAddress(actor, "AActor.NetUpdateFrequencyX"); },
                 "AActor.NetUpdateFrequencyX");
  // A prefix of a known name is not that name.
  expect_refused([&] { GetAddress(actor, "AActor.Net"); }, "AActor.Net");
}

TEST_F(HostTypesTest, Utf8DecodeReplacesMalformedInputInsteadOfFailing) {
  using AsaApi::Tools::Utf8Decode;
  EXPECT_EQ(Utf8Decode("ForceGC"), L"ForceGC");
  EXPECT_EQ(Utf8Decode("\xE2\x80\x94"), L"\u2014");
  // One wide character, or a surrogate pair where wchar_t has 16 bits.
  EXPECT_EQ(Utf8Decode("\xF0\x9F\x98\x80"), L"\U0001F600");
  EXPECT_EQ(Utf8Decode("a\xFF"
                       "b"),
            L"a\uFFFDb");
  EXPECT_EQ(Utf8Decode("\xE2\x80"), L"\uFFFD");      // truncated at the end
  EXPECT_EQ(Utf8Decode("\xC0\xAF"), L"\uFFFD");      // overlong
  EXPECT_EQ(Utf8Decode("\xED\xA0\x80"), L"\uFFFD");  // a surrogate
  EXPECT_EQ(Utf8Decode("\xE2\x80Z"), L"\uFFFDZ");    // resynchronises on the next byte
  EXPECT_EQ(Utf8Decode(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST_F(HostTypesTest, ModulePathNamesTheFileThatHoldsTheCode) {
  const std::wstring path = Quillmoor::Host::ModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(L"host_types_test"), std::wstring::npos);
}

TEST_F(HostTypesTest, CurrentDirHasNoTrailingSeparator) {
  const std::string dir = AsaApi::Tools::GetCurrentDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_EQ(dir, ServerDir().string());
}

}  // namespace
