#include "exchange/ComponentRegistry.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/TerminalSession.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

namespace {

// A program folder of its own with the registry file written per test.
class ComponentRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousFolder = ProgramFolder();
        SetProgramFolder(dir.Path() + QLatin1Char('/'));
    }
    void TearDown() override { SetProgramFolder(m_previousFolder); }

    void WriteRegistry(const QByteArray& text) {
        ASSERT_TRUE(dir.Write(QStringLiteral("components.ini"), text));
    }
    int Create(CParlinkHolder* holder) { return CreateParlinkComponent(holder); }

    int Connect(bool show, TerminalInfo* info = nullptr) {
        TerminalSession session;
        session.showMessages = show;
        const int code = session.ConnectTerminal(QStringLiteral("COM1"));
        if (info) *info = session.info;
        return code;
    }

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scopedPrompt{prompt};

private:
    QString m_previousFolder;
};

TEST_F(ComponentRegistryTest, NotRegisteredWithoutFileSectionOrKey) {
    CParlinkHolder holder;
    EXPECT_EQ(Create(&holder), ExchangeCode::kComponentNotRegistered);  // no components.ini

    WriteRegistry("[Other.Component]\nlibrary=" KX_TEST_PLUGIN_STUB "\n");
    EXPECT_EQ(Create(&holder), ExchangeCode::kComponentNotRegistered);

    WriteRegistry("[KXC.ParlinkX2]\nname=Parlink\n");
    EXPECT_EQ(Create(&holder), ExchangeCode::kComponentNotRegistered);

    WriteRegistry("[KXC.ParlinkX2]\nlibrary=\n");
    EXPECT_EQ(Create(&holder), ExchangeCode::kComponentNotRegistered);
    EXPECT_FALSE(holder);

    // The routine reports it with its message, or silently.
    EXPECT_EQ(Connect(true), 1);
    EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не могу найти компоненту Parlink"}));
    prompt.Clear();
    EXPECT_EQ(Connect(false), 1);
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

TEST_F(ComponentRegistryTest, NotCreatedWhenLibraryMissingBrokenWithoutFactoryOrFactoryFails) {
    const QByteArray libraries[] = {
        QByteArray("no_such_library.so"),
        QByteArray(KX_TEST_PLUGIN_NOFACTORY),
        QByteArray(KX_TEST_PLUGIN_NULLFACTORY),
        QByteArray("garbage.so"),
    };
    ASSERT_TRUE(dir.Write(QStringLiteral("garbage.so"), "this is not a library"));
    for (const QByteArray& library : libraries) {
        SCOPED_TRACE(library.toStdString());
        WriteRegistry("[KXC.ParlinkX2]\nlibrary=" + library + "\n");
        CParlinkHolder holder;
        EXPECT_EQ(Create(&holder), ExchangeCode::kComponentNotCreated);
        EXPECT_FALSE(holder);
        prompt.Clear();
        EXPECT_EQ(Connect(true), 2);
        EXPECT_EQ(prompt.Texts(), QStringList({"Ошибка! Не удается создать Parlink обьект!"}));
    }
}

TEST_F(ComponentRegistryTest, HalfCopiedLinkLibraryIsNotCreatedInsteadOfKillingTheProgram) {
    const QByteArray whole = ReadFileBytes(QString::fromUtf8(KX_PARLINK_LIBRARY));
    ASSERT_GT(whole.size(), 40000);
    for (const qsizetype size : {qsizetype(1000), qsizetype(20000), whole.size() / 2}) {
        SCOPED_TRACE(size);
        const QString name = QStringLiteral("cut%1/libparlink.so").arg(size);
        ASSERT_TRUE(QDir(dir.Path()).mkpath(QFileInfo(dir.File(name)).path()));
        ASSERT_TRUE(WriteFileBytes(dir.File(name), whole.left(size)));
        WriteRegistry("[KXC.ParlinkX2]\nlibrary=" + name.toUtf8() + "\n");
        CParlinkHolder holder;
        QString why;
        EXPECT_EQ(CreateParlinkComponent(&holder, &why), ExchangeCode::kComponentNotCreated);
        EXPECT_FALSE(holder);
        EXPECT_TRUE(why.contains(dir.File(name)) && why.contains("damaged")) << why.toStdString();
    }
}

TEST_F(ComponentRegistryTest, CreatesFromAbsoluteAndRelativeLibraryAndReleasesIt) {
    QLibrary stub(QString::fromUtf8(KX_TEST_PLUGIN_STUB));
    ASSERT_TRUE(stub.load()) << stub.errorString().toStdString();
    auto created = reinterpret_cast<int (*)()>(stub.resolve("KxStubCreated"));
    auto released = reinterpret_cast<int (*)()>(stub.resolve("KxStubReleased"));
    ASSERT_TRUE(created && released);

    WriteRegistry("[KXC.ParlinkX2]\nlibrary=" KX_TEST_PLUGIN_STUB "\n");
    EXPECT_EQ(RegisteredComponentLibrary(ProgramFolder()), QString::fromUtf8(KX_TEST_PLUGIN_STUB));
    const int createdBefore = created(), releasedBefore = released();
    TerminalInfo info;
    EXPECT_EQ(Connect(true, &info), 0);
    EXPECT_EQ(info.program, "Stub");
    EXPECT_EQ(info.deviceId, "42");
    EXPECT_EQ(info.componentVersion, "stub");
    EXPECT_EQ(created() - createdBefore, 1);
    EXPECT_EQ(released() - releasedBefore, 1);

    // A name relative to the program folder (a copy of the library beside it).
    const QString copy = dir.File(QStringLiteral("plugins/libcopy.so"));
    ASSERT_TRUE(QDir(dir.Path()).mkpath(QStringLiteral("plugins")));
    ASSERT_TRUE(QFile::copy(QString::fromUtf8(KX_TEST_PLUGIN_STUB), copy));
    WriteRegistry("[kxc.parlinkx2]\n library = plugins/libcopy.so \n");
    EXPECT_EQ(RegisteredComponentLibrary(ProgramFolder()), QFileInfo(copy).absoluteFilePath());
    CParlinkHolder holder;
    EXPECT_EQ(Create(&holder), ExchangeCode::kOk);
    EXPECT_TRUE(holder);
    EXPECT_EQ(holder->GetComponentVersion(), "stub");
    EXPECT_TRUE(prompt.Messages().isEmpty());
}

// The holder gives its object back exactly once, also when moved.
class CCountingObject : public IParlinkX2 {
public:
    int OpenPort(const QString&) override { return 1; }
    int ClosePort() override { return 1; }
    int SendCommand(const QString&) override { return 1; }
    int SendData(const QString&) override { return 1; }
    int Receive(QString*) override { return 1; }
    int EndData() override { return 1; }
    QString GetComponentVersion() override { return {}; }
    QString GetProtocolVersion() override { return {}; }
    int WaitLink(int) override { return 1; }
    void Release() override { ++released; }
    int released = 0;
};

TEST(ParlinkHolder, ReleasesOnceThroughMovesAndReset) {
    CCountingObject a, b;
    {
        CParlinkHolder first(&a);
        CParlinkHolder second(std::move(first));
        EXPECT_FALSE(first);
        second = CParlinkHolder(&b);  // gives a back
        EXPECT_EQ(a.released, 1);
        second.Reset();
        EXPECT_EQ(b.released, 1);
        second.Reset();
    }
    EXPECT_EQ(a.released, 1);
    EXPECT_EQ(b.released, 1);
}

}  // namespace

// The program pairs only through the registered component's export; a
// component that is missing, cannot be loaded or does not pair says so.
TEST_F(ComponentRegistryTest, PairsThroughTheRegisteredComponentsExportOnly) {
    const QString port = QStringLiteral("tcp:127.0.0.1:1"), code = QStringLiteral("123456");
    CPairOutcome o = PairThroughComponent(port, code);
    EXPECT_EQ(o.result, EPairResult::ComponentNotRegistered);
    EXPECT_TRUE(o.text.contains(QStringLiteral("components.ini"))) << o.text.toStdString();

    WriteRegistry("[KXC.ParlinkX2]\nlibrary=" KX_TEST_PLUGIN_STUB "\n");
    o = PairThroughComponent(port, code);
    EXPECT_EQ(o.result, EPairResult::ComponentCannotPair);
    EXPECT_EQ(o.text, QStringLiteral(KX_TEST_PLUGIN_STUB ": it has no KxParlinkPair"));

    WriteRegistry("[KXC.ParlinkX2]\nlibrary=no_such_library.so\n");
    o = PairThroughComponent(port, code);
    EXPECT_EQ(o.result, EPairResult::ComponentCannotPair);
    EXPECT_TRUE(o.text.startsWith(dir.File(QStringLiteral("no_such_library.so")) + QStringLiteral(": ")))
        << o.text.toStdString();

    // The link component itself answers through its export: it pairs only
    // network terminals, and checks that before the code.
    WriteRegistry("[KXC.ParlinkX2]\nlibrary=" KX_PARLINK_LIBRARY "\n");
    o = PairThroughComponent(QStringLiteral("COM1"), QStringLiteral("12"));
    EXPECT_EQ(o.result, EPairResult::NotNetworkPort) << o.text.toStdString();
    EXPECT_TRUE(o.text.startsWith(QStringLiteral("COM1 is not a network port"))) << o.text.toStdString();
    o = PairThroughComponent(port, QStringLiteral("12"));
    EXPECT_EQ(o.result, EPairResult::BadCode) << o.text.toStdString();
    EXPECT_TRUE(prompt.Messages().isEmpty());
}
