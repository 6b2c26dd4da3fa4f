#include "framework/async/await.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "support/fake_host_module.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;
using Answer = MaybeType<Failure, std::string>;

TEST(AwaitTest, AReadyFutureNeedsNoWait) {
  FakeHostModule module;
  std::promise<Answer> promise;
  promise.set_value(Answer(std::string("done")));
  Answer answer = module.Await(promise.get_future());
  ASSERT_TRUE(answer.ok());
  EXPECT_EQ(answer.value(), "done");
  EXPECT_TRUE(module.waits.empty());
  EXPECT_EQ(module.yields, 0);
  EXPECT_EQ(module.endWaits, 0);
}

TEST(AwaitTest, AFutureThatNeedsSeveralPassesAnnouncesOneWait) {
  FakeHostModule module;
  std::promise<Answer> promise;
  // The host delivers the answer while the module yields for the third time.
  module.onYield = [&] {
    if (module.yields == 3) promise.set_value(Answer(MakeFailureText(0, "late")));
    // BeginWait comes before the first yield, EndWait only after the last.
    EXPECT_EQ(module.waits.size(), 1u);
    EXPECT_EQ(module.endWaits, 0);
  };
  Answer answer = module.Await(promise.get_future());
  ASSERT_FALSE(answer.ok());
  EXPECT_EQ(answer.failure().message, "late");
  EXPECT_EQ(module.waits, std::vector<std::string>{std::string("Wait: future<") +
                                                   StaticTypeName<Answer>() + ">"});
  EXPECT_EQ(module.yields, 3);
  EXPECT_EQ(module.endWaits, 1);
}

TEST(AwaitTest, YieldWrapsOneYieldInAWait) {
  FakeHostModule module;
  module.Yield();
  EXPECT_EQ(module.waits, std::vector<std::string>{"Wait: yield"});
  EXPECT_EQ(module.yields, 1);
  EXPECT_EQ(module.endWaits, 1);
}

TEST(AwaitDeathTest, AFutureWithoutStateStopsTheProcess) {
  FakeHostModule module;
  EXPECT_DEATH(module.Await(std::future<Answer>()),
               "Caught std::future_error in AppModule::Await: \\(3\\)(.|\n)*"
               "Expression: ALE-6D828C10");
}

}  // namespace
}  // namespace Zorv::Client
