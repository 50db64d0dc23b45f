// ISourceControl's address rules: which forms normalise, to what, and the start offsets.
#include "standin_fixture.h"

namespace kavo::test {
namespace {

class StandInAddresses : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    Create().As(&control_);
    ASSERT_TRUE(control_);
  }
  void TearDown() override {
    control_.Reset();
    StandInTest::TearDown();
  }

  // The normalised address, or "<declined>" for S_FALSE with a null BSTR.
  std::wstring Normalize(const wchar_t* address) {
    BSTR normalized = reinterpret_cast<BSTR>(1);
    const HRESULT result = control_->NormalizeAddress(address, 0, &normalized);
    std::wstring text = result == S_OK && normalized
                            ? std::wstring(normalized, SysStringLen(normalized))
                        : result == S_FALSE && !normalized ? L"<declined>"
                                                           : L"<broken contract>";
    SysFreeString(result == S_OK ? normalized : nullptr);
    return text;
  }

  ComPtr<ISourceControl> control_;
};

const std::wstring kCanonical = L"https://video.example/watch?v=dQw4w9WgXcQ";

TEST_F(StandInAddresses, WatchPagesNormaliseWhateverTheSchemeHostAndParameterOrder) {
  for (const wchar_t* address : {
           L"video.example/watch?v=dQw4w9WgXcQ",
           L"video.example/watch?v=dQw4w9WgXcQ&t=30",
           L"https://video.example/watch?v=dQw4w9WgXcQ",
           L"http://www.video.example/watch?v=dQw4w9WgXcQ",
           L"YsHttpS://M.Video.Example/watch?feature=share&v=dQw4w9WgXcQ&list=x",
           L"yshttp://video.example/watch?a=1&b=&v=dQw4w9WgXcQ#t=1m",
           L"vid.example/dQw4w9WgXcQ",
           L"https://vid.example/dQw4w9WgXcQ?t=42",
       }) {
    EXPECT_EQ(Normalize(address), kCanonical) << address;
  }
}

TEST_F(StandInAddresses, TheSlaveMarkerLeadsBackToTheSameAddress) {
  EXPECT_EQ(Normalize((kCanonical + L"&vlc_slave=1").c_str()), kCanonical);
  EXPECT_EQ(Normalize((L"yshttps://" + kCanonical.substr(8) + L"&vlc_slave=1").c_str()),
            kCanonical);
  EXPECT_EQ(Normalize(kCanonical.c_str()), kCanonical) << "normalising is idempotent";
}

TEST_F(StandInAddresses, IdsKeepTheirCaseAndTheirFullCharacterSet) {
  EXPECT_EQ(Normalize(L"video.example/watch?v=a"), L"https://video.example/watch?v=a");
  EXPECT_EQ(Normalize(L"video.example/watch?v=AZaz09_-"),
            L"https://video.example/watch?v=AZaz09_-");
  const std::wstring longest(64, L'x');
  EXPECT_EQ(Normalize((L"video.example/watch?v=" + longest).c_str()),
            L"https://video.example/watch?v=" + longest);
}

TEST_F(StandInAddresses, EverythingElseIsDeclined) {
  const std::wstring tooLong(65, L'x');
  for (const std::wstring& address : std::vector<std::wstring>{
           L"",
           L"video.example",
           L"video.example/watch",
           L"video.example/watch?v=",
           L"video.example/watch?list=abc",
           L"video.example/watch?V=abc",
           L"video.example/Watch?v=abc",
           L"video.example/watch/?v=abc",
           L"video.example/embed/abc",
           L"video.example/watch?v=ab%2Dc",
           L"video.example/watch?v=ab.c",
           L"video.example/watch?v=" + tooLong,
           L"ftp://video.example/watch?v=abc",
           L"file:///C:/clip.mp4",
           L"https://video.example.evil/watch?v=abc",
           L"https://evil.example/watch?v=abc&u=video.example",
           L"video.example:8080/watch?v=abc",
           L"user@video.example/watch?v=abc",
           L"vid.example/",
           L"vid.example/abc/def",
           L"www.vid.example/abc",
       }) {
    EXPECT_EQ(Normalize(address.c_str()), L"<declined>") << address;
  }
  BSTR normalized = nullptr;
  EXPECT_EQ(control_->NormalizeAddress(L"video.example/watch?v=x", 0, nullptr), E_POINTER);
  EXPECT_TRUE(FAILED(control_->NormalizeAddress(nullptr, 0, &normalized)));
  EXPECT_EQ(normalized, nullptr);
}

TEST_F(StandInAddresses, ATestCanForceTheAnswer) {
  StandIn::SetNormalizeResult(S_OK, nullptr);
  BSTR normalized = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(control_->NormalizeAddress(kCanonical.c_str(), 0, &normalized), S_OK);
  EXPECT_EQ(normalized, nullptr);
  StandIn::SetNormalizeResult(S_FALSE, L"leftover");
  EXPECT_EQ(control_->NormalizeAddress(kCanonical.c_str(), 0, &normalized), S_FALSE);
  EXPECT_EQ(std::wstring(normalized), L"leftover") << "the caller frees on every path";
  SysFreeString(normalized);
  StandIn::Reset();
  EXPECT_EQ(Normalize(kCanonical.c_str()), kCanonical);
}

TEST_F(StandInAddresses, StartOffsetsComeFromTheTimeParameterInMilliseconds) {
  const struct {
    const wchar_t* address;
    ULONG milliseconds;
  } cases[] = {
      {L"video.example/watch?v=abc", 0},
      {L"video.example/watch?v=abc&t=90", 90000},
      {L"video.example/watch?t=90s&v=abc", 90000},
      {L"video.example/watch?v=abc&t=1h2m3s", 3723000},
      {L"video.example/watch?v=abc&t=2m", 120000},
      {L"video.example/watch?v=abc&t=45s", 45000},
      {L"video.example/watch?v=abc&t=1h", 3600000},
      {L"video.example/watch?v=abc&t=1H30S", 3630000},
      {L"video.example/watch?v=abc&start=15", 15000},
      {L"https://vid.example/abc?t=7", 7000},
      {L"video.example/watch?v=abc#t=1m5s", 65000},
      {L"video.example/watch?v=abc&t=0", 0},
      {L"video.example/watch?v=abc&t=", 0},
      {L"video.example/watch?v=abc&t=abc", 0},
      {L"video.example/watch?v=abc&t=-5", 0},
      {L"video.example/watch?v=abc&t=1.5", 0},
      {L"video.example/watch?v=abc&t=3s2m", 0},
      {L"video.example/watch?v=abc&t=1m30", 0},
      {L"video.example/watch?v=abc&t=4294967", 4294967000u},
      {L"video.example/watch?v=abc&t=4294968", 0},
      {L"video.example/watch?v=abc&at=90", 0},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(control_->GetStartOffset(item.address), item.milliseconds) << item.address;
  }
  EXPECT_EQ(control_->GetStartOffset(nullptr), 0u);
}

}  // namespace
}  // namespace kavo::test
