// Arming and disarming by DTMF with the limit on guessing, on a clock the
// test moves.
#include <gtest/gtest.h>

#include <string>

#include "link/secure/DtmfLockout.h"

namespace zv {
namespace {

using V = DtmfLockout::Verdict;
constexpr std::uint64_t kMinute = 60000;

struct DtmfLockoutTest : ::testing::Test {
  DtmfLockout lock;
  std::uint64_t now = 1000;
  bool armed = false;
  const std::string on = "6592", off = "7295";
  std::vector<std::string> journal;

  // Keys the digits; the verdict of the last one.
  V Key(const std::string& digits) {
    V v = V::None;
    for (const char c : digits) {
      const auto r = lock.Digit(c, armed, on, off, now);
      for (const auto& line : r.journal) journal.push_back(line.text);
      if (r.verdict != V::None) v = r.verdict;
      if (r.verdict == V::Arm) armed = true;
      if (r.verdict == V::Disarm) armed = false;
    }
    return v;
  }
  // One call keying three wrong codes: the site hangs up.
  void FailedCall() {
    lock.CallStarted(now);
    EXPECT_EQ(Key("111122223333"), V::HangUp);
    lock.CallEnded();
    now += kMinute;
  }
};

TEST_F(DtmfLockoutTest, CodesMatchAmongOtherDigitsAndThreeWrongOnesHangUp) {
  lock.CallStarted(now);
  EXPECT_EQ(Key("1265"), V::WrongCode);  // four digits, no code: one wrong code
  EXPECT_EQ(Key("92"), V::Arm);          // "6592" among them still arms
  EXPECT_EQ(Key("7295"), V::Disarm);
  EXPECT_EQ(lock.WrongCodes(), 0);  // a right code forgives the mistype
  EXPECT_EQ(Key("0000"), V::WrongCode);
  EXPECT_EQ(Key("0000"), V::WrongCode);
  EXPECT_EQ(Key("000"), V::None);
  EXPECT_EQ(Key("0"), V::HangUp);
  EXPECT_EQ(Key("6592"), V::None);  // nothing counts once hung up
  EXPECT_FALSE(armed);
  EXPECT_EQ(journal.back(), "Неверный код DTMF набран 3 раза: звонок прерван !");
  // The next call starts afresh.
  lock.CallStarted(now);
  EXPECT_EQ(Key("6592"), V::Arm);

  // A code left empty is never matched, and digits for it count for nothing.
  lock.CallStarted(now);
  armed = true;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lock.Digit('1', armed, on, "", now).verdict, V::None);
}

TEST_F(DtmfLockoutTest, FailedCallsWithinAnHourLockDtmfControlEvenForTheRightCode) {
  // A mistyped call that ends with the right code is not a failed one.
  lock.CallStarted(now);
  Key("0000"
      "6592"
      "7295");
  EXPECT_EQ(lock.FailedCalls(), 0);
  // Two failed calls more than an hour apart do not add up.
  FailedCall();
  now += 60 * kMinute;
  FailedCall();
  FailedCall();
  EXPECT_FALSE(lock.Locked(now));
  FailedCall();  // the third within the hour
  ASSERT_TRUE(lock.Locked(now));
  EXPECT_NE(std::find(journal.begin(), journal.end(),
                      "Управление охраной по DTMF заблокировано на 60 мин. после 3 неудачных "
                      "звонков с неверными кодами !"),
            journal.end());

  // The owner's right code is refused, and sounds like a wrong one.
  lock.CallStarted(now);
  EXPECT_EQ(Key("6592"), V::Refused);
  EXPECT_FALSE(armed);
  EXPECT_EQ(journal.back(),
            "Верный код постановки на охрану по DTMF отклонён: управление охраной по DTMF "
            "заблокировано !");
  EXPECT_EQ(Key("1234"), V::Refused);
  EXPECT_EQ(Key("6592"), V::HangUp);
  EXPECT_EQ(lock.Tick(now), "");

  // Guessing during the lock keeps it on an hour from the last try.
  now += 30 * kMinute;
  FailedCall();
  now += 58 * kMinute;
  EXPECT_TRUE(lock.Locked(now));
  EXPECT_EQ(lock.Tick(now), "");
  now += 2 * kMinute;
  EXPECT_EQ(lock.Tick(now), "Управление охраной по DTMF снова разрешено");
  EXPECT_EQ(lock.Tick(now), "");
  lock.CallStarted(now);
  EXPECT_EQ(Key("6592"), V::Arm);
}

}  // namespace
}  // namespace zv
