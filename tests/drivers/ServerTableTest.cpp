// serverTable and what a driver is after construction: slots, the
// registered message, the name and path limits.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "DriverTestKit.h"
#include "TestKit.h"

using namespace drivertest;

namespace {

class ServerTableTest : public DriverTest {
protected:
    int slotOf(Server* server) const
    {
        for (int i = 0; i < ServerTableSize; ++i)
            if (serverTable[i] == server)
                return i;
        return -1;
    }
    int used() const
    {
        int n = 0;
        for (int i = 0; i < ServerTableSize; ++i)
            n += serverTable[i] != nullptr;
        return n;
    }
};

}  // namespace

TEST_F(ServerTableTest, ConstructedDriver)
{
    ASSERT_EQ(used(), 0);
    TestServer server("TvFresh");
    EXPECT_EQ(slotOf(&server), 0);
    EXPECT_STREQ(server.name(), "TvFresh");
    EXPECT_EQ(server.state(), Stopped);
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.port(), 0);
    EXPECT_EQ(server.pid(), 0u);
    EXPECT_FALSE(server.serviceMode());
    EXPECT_FALSE(server.restartPending());
    EXPECT_FALSE(server.watchConfig());
    EXPECT_STREQ(server.configPath(), "");
    EXPECT_EQ(server.configTime().dwLowDateTime, 0u);
    EXPECT_EQ(server.configTime().dwHighDateTime, 0u);
    EXPECT_TRUE(server.notifyWindow() == nullptr);
    EXPECT_TRUE(server.service() == nullptr) << "no such service";
    EXPECT_EQ(server.messageId(), RegisterWindowMessageA("Tarvane_TvFresh"));
    EXPECT_GE(server.messageId(), 0xC000u);
}

TEST_F(ServerTableTest, EleventhDriverIsNotRegisteredNorMonitored)
{
    std::vector<TestServer*> ten;
    for (int i = 0; i < ServerTableSize; ++i) {
        ten.push_back(makeServer(UniqueName("TvSlot").c_str()));
        EXPECT_EQ(slotOf(ten.back()), i);
    }
    TestServer* eleventh = makeServer(UniqueName("TvEleventh").c_str());
    EXPECT_EQ(slotOf(eleventh), -1);
    EXPECT_EQ(used(), ServerTableSize);

    // It works, but no tick ever settles its state.
    EXPECT_EQ(eleventh->start(), 0u);
    ASSERT_NE(eleventh->pid(), 0u);
    testkit::PumpFor(1600);
    EXPECT_EQ(eleventh->state(), StartPending) << "got " << eleventh->state();
    EXPECT_TRUE(ProcessAlive(eleventh->pid()));

    // The ten registered ones are monitored as usual.
    EXPECT_EQ(ten[9]->start(), 0u);
    EXPECT_TRUE(pumpUntilState(ten[9], Running));
}

TEST_F(ServerTableTest, DestroyedDriverFreesItsSlotForTheNext)
{
    TestServer* a = makeServer("TvA");
    TestServer* b = makeServer("TvB");
    TestServer* c = makeServer("TvC");
    EXPECT_EQ(slotOf(a), 0);
    EXPECT_EQ(slotOf(b), 1);
    EXPECT_EQ(slotOf(c), 2);

    // A running driver destroyed: the monitor no longer visits it.
    ASSERT_EQ(b->start(), 0u);
    ASSERT_TRUE(pumpUntilState(b, Running));
    forget(b);
    EXPECT_TRUE(serverTable[1] == nullptr);
    testkit::PumpFor(800);

    TestServer* d = makeServer("TvD");
    EXPECT_EQ(slotOf(d), 1) << "the first free slot";
    TestServer* e = makeServer("TvE");
    EXPECT_EQ(slotOf(e), 3);
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(ServerTableTest, DestructorClearsEverySlotHoldingTheDriver)
{
    auto* server = new TestServer("TvTwice");
    ASSERT_EQ(slotOf(server), 0);
    serverTable[7] = server;
    delete server;
    for (int i = 0; i < ServerTableSize; ++i)
        EXPECT_TRUE(serverTable[i] == nullptr) << "slot " << i;
}

TEST_F(ServerTableTest, DriversOfOneNameShareTheMessage)
{
    TestServer one("MySql");
    TestServer two("MySql");
    TestServer other("Apache");
    EXPECT_EQ(one.messageId(), two.messageId());
    EXPECT_NE(one.messageId(), other.messageId());
    EXPECT_EQ(one.messageId(), RegisterWindowMessageA("Tarvane_MySql"));
    EXPECT_EQ(other.messageId(), RegisterWindowMessageA("Tarvane_Apache"));
    EXPECT_EQ(slotOf(&one), 0);
    EXPECT_EQ(slotOf(&two), 1);
}

TEST_F(ServerTableTest, NameAndPathAreCutNeverOverrun)
{
    std::string longName(40, 'N');
    TestServer server(longName.c_str());
    EXPECT_EQ(std::string(server.name()), std::string(31, 'N'));
    EXPECT_EQ(server.messageId(), RegisterWindowMessageA(("Tarvane_" + std::string(31, 'N')).c_str()));

    std::string longPath = "C:\\" + std::string(300, 'p');
    server.setConfigPath(longPath.c_str());
    EXPECT_EQ(strlen(server.configPath()), 259u);
    EXPECT_EQ(std::string(server.configPath()), longPath.substr(0, 259));
    EXPECT_EQ(server.configTime().dwLowDateTime, 0u) << "unreadable file";

    TestServer unnamed(nullptr);
    EXPECT_STREQ(unnamed.name(), "");
}

TEST_F(ServerTableTest, SetConfigPathRecordsCurrentTime)
{
    std::string dir = testkit::MakeTempDir("cfgpath");
    tempDirs.push_back(dir);
    std::string path = dir + "my.ini";
    ASSERT_TRUE(testkit::WriteFileBytes(path, "[mysqld]\n"));
    TestServer server("TvPath");
    server.setConfigPath(path.c_str());
    EXPECT_STREQ(server.configPath(), path.c_str());
    FILETIME expected = ReadWriteTime(path);
    EXPECT_TRUE(SameTime(server.configTime(), expected))
        << "got " << server.configTime().dwLowDateTime << " expected " << expected.dwLowDateTime;
    server.setConfigPath((dir + "missing.ini").c_str());
    EXPECT_EQ(server.configTime().dwLowDateTime, 0u);
    EXPECT_EQ(server.configTime().dwHighDateTime, 0u);
}
