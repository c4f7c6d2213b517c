// One copy of the program per user: a second copy is told so and stops, and a copy that was
// killed does not block the next start.
#include "FakeDesktop.h"
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QProcess>

using namespace albumora;

namespace {

TEST(SingleInstance, SecondCopyIsToldAndAKilledCopyDoesNotBlock) {
    test::TempFolder dir;
    const QString lock = dir.file(QStringLiteral("Albumora.lock"));
    QProcess holder;
    holder.start(QStringLiteral(ALBUMORA_INSTANCE_PROBE), {lock, QStringLiteral("hold")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    EXPECT_EQ(holder.readLine().trimmed(), QByteArray("acquired"));

    test::FakePrompts prompts;
    shell::SingleInstance second(lock);
    EXPECT_FALSE(shell::EnsureSingleInstance(second, &prompts));
    EXPECT_EQ(prompts.texts(QStringLiteral("message")), (QStringList{"You ALREADY have a copy of Albumora running!"}));
    auto busy = test::runProcess(QStringLiteral(ALBUMORA_INSTANCE_PROBE), {lock});
    EXPECT_EQ(busy.out.trimmed(), QStringLiteral("busy"));

    holder.kill();  // SIGKILL: the lock file stays behind
    holder.waitForFinished();
    ASSERT_TRUE(QFile::exists(lock));
    shell::SingleInstance next(lock);
    EXPECT_TRUE(shell::EnsureSingleInstance(next, &prompts));
    EXPECT_EQ(prompts.shown.size(), 1u);
}

}  // namespace
