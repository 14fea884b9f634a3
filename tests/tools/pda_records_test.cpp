// pda alias, visa and favorite end to end on a `pda init` installation, and
// the usage errors that every command shares.

#if !defined(_WIN32)

#  include <gtest/gtest.h>

#  include "ToolRun.h"

namespace {

using tooltest::expectFailure;
using tooltest::json;
using tooltest::ok;
using tooltest::pda;

TEST(PdaAlias, ResolvesWithoutRegardToCaseAndPassesOtherNamesThrough) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  EXPECT_EQ(ok(machine, {"alias", "resolve", "SCOPE"}), "TCPIP0::192.168.1.20::inst0::INSTR\n");
  EXPECT_EQ(ok(machine, {"alias", "resolve", "bench-DMM", "--brix"}),
            "usb0,10893,4865,MY53000001,0\n");
  // A VISA alias is no Brix alias.
  EXPECT_EQ(ok(machine, {"alias", "resolve", "scope", "--brix"}), "scope\n");

  tooltest::Result r = pda(machine, {"alias", "resolve", "nosuch"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "nosuch\n");
  EXPECT_NE(r.err.find("no VISA alias"), std::string::npos) << r.err;

  nlohmann::json doc = json(machine, {"alias", "resolve", "nosuch"});
  EXPECT_FALSE(doc["resolved"].get<bool>());
  EXPECT_EQ(doc["address"], "nosuch");
  EXPECT_TRUE(json(machine, {"alias", "resolve", "Dmm"})["resolved"].get<bool>());
}

TEST(PdaAlias, ListsInNameOrderAndByKind) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string db = machine.dataDir() + "Quillon.db";
  pdatest::sqlite(db,
                  "DELETE FROM InstrAliasInfo;"
                  "INSERT INTO InstrAliasInfo (IDKEY, NAME, VALUE) VALUES"
                  " ('b', 'AliasVisaId', 'B::INSTR'), ('A', 'aliasvisaid', 'A::INSTR'),"
                  " ('c', 'AliasVisaId', 'C::INSTR'), ('x''y', 'AliasBrixId', 'q''uote'),"
                  " ('other', 'SomethingElse', 'ignored');");
  nlohmann::json doc = json(machine, {"alias", "list"});
  const nlohmann::json& list = doc["aliases"];
  ASSERT_EQ(list.size(), 4u) << list.dump();
  EXPECT_EQ(list[0]["alias"], "A");
  EXPECT_EQ(list[1]["alias"], "b");
  EXPECT_EQ(list[2]["alias"], "c");
  EXPECT_EQ(list[2]["address"], "C::INSTR");
  EXPECT_EQ(list[3]["kind"], "brix");
  EXPECT_EQ(list[3]["alias"], "x'y");
  EXPECT_EQ(list[3]["address"], "q'uote");
  EXPECT_EQ(json(machine, {"alias", "list", "--visa"})["aliases"].size(), 3u);
  EXPECT_EQ(json(machine, {"alias", "list", "--brix"})["aliases"].size(), 1u);
  expectFailure(pda(machine, {"alias", "list", "--visa", "--brix"}), 2);

  // The built-in defaults hold no aliases.
  const std::string text = ok(machine, {"alias", "list", "--source", "defaults"});
  EXPECT_NE(text.find("(none)"), std::string::npos) << text;
}

TEST(PdaVisa, LogModeStoresKeywordsAndShowsTheProcessCache) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  const std::string db = machine.dataDir() + "Quillon.db";
  const std::string query = "SELECT VALUE FROM VisaInfo WHERE NAME='Logging';";

  nlohmann::json mode = json(machine, {"visa", "log-mode"});
  EXPECT_EQ(mode["stored"], "off");
  EXPECT_EQ(mode["process"], "off");

  ok(machine, {"visa", "log-mode", "Debugger"});
  EXPECT_EQ(pdatest::sqlite(db, query), "DEBUGGER\n");
  mode = json(machine, {"visa", "log-mode"});
  EXPECT_EQ(mode["stored"], "debugger");
  EXPECT_EQ(mode["process"], "debugger");  // a new process reads the new value

  ok(machine, {"visa", "log-mode", "eventviewer"});
  EXPECT_EQ(pdatest::sqlite(db, query), "EVENTVIEWER\n");
  ok(machine, {"visa", "log-mode", "off"});
  EXPECT_EQ(pdatest::sqlite(db, query), "OFF\n");

  // Keywords that are only read, and a trailing blank that is not trimmed.
  pdatest::sqlite(db, "UPDATE VisaInfo SET VALUE='brix' WHERE NAME='Logging';");
  EXPECT_EQ(json(machine, {"visa", "log-mode"})["stored"], "eventviewer");
  pdatest::sqlite(db, "UPDATE VisaInfo SET VALUE='EVENTVIEWER ' WHERE NAME='Logging';");
  EXPECT_EQ(json(machine, {"visa", "log-mode"})["stored"], "off");

  expectFailure(pda(machine, {"visa", "log-mode", "loud"}), 2);
  EXPECT_EQ(pdatest::sqlite(db, query), "EVENTVIEWER \n");
}

TEST(PdaVisa, GetAndSetCheckTheirInput) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  EXPECT_EQ(ok(machine, {"visa", "get", "Spec Version"}), "0\n");
  ok(machine, {"visa", "set", "spec version", "5"});
  EXPECT_EQ(pdatest::sqlite(machine.dataDir() + "Quillon.db",
                            "SELECT VALUE FROM VisaInfo WHERE NAME='Spec Version';"),
            "5\n");
  EXPECT_EQ(ok(machine, {"visa", "get", "Spec Version"}), "5\n");
  EXPECT_EQ(ok(machine, {"visa", "get", "Manufacturer", "--source", "defaults"}),
            "not specified\n");
  expectFailure(pda(machine, {"visa", "set", "DefaultQSize", "12abc"}), 2);
  expectFailure(pda(machine, {"visa", "set", "DefaultQSize", "2147483648"}), 2);
  expectFailure(pda(machine, {"visa", "get", "NoSuchSetting"}), 2);
  expectFailure(pda(machine, {"visa", "set", "DefaultQSize"}), 2);
  EXPECT_EQ(ok(machine, {"visa", "get", "DefaultQSize"}), "50\n");
}

TEST(PdaFavorite, TellsOnOffAndNotSet) {
  pdatest::TempMachine machine;
  ok(machine, {"init"});
  pdatest::sqlite(
      machine.dataDir() + "Quillon.db",
      "INSERT INTO InstrumentFavorites (NAME, VALUE) VALUES ('usb', 'OFF'), ('gpib', '1');");
  EXPECT_EQ(ok(machine, {"favorite", "TCPIP0::192.168.1.20::inst0::INSTR"}), "on\n");
  EXPECT_EQ(ok(machine, {"favorite", "USB"}), "off\n");
  EXPECT_EQ(ok(machine, {"favorite", "gpib"}), "not set\n");
  EXPECT_EQ(json(machine, {"favorite", "missing"})["favorite"], "not set");
}

TEST(PdaUsageErrors, BadUsageExitsTwoWithOneLine) {
  pdatest::TempMachine machine;
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"nosuch"},
      {"get"},
      {"get", "NoSuchSetting"},
      {"set", "InstallLevel", "3"},  // read-only
      {"set", "IOControlHidden", "maybe"},
      {"show", "--source", "floppy"},
      {"alias"},
      {"chassis", "add", "SN"},
      {"chassis", "add", "SN", "--vendor", "V", "--model", "M", "--usb", "U", "--manf-id", "x",
       "--model-id", "1"},
      {"usage", "add", "tape", "p", "t"},
      {"usage", "add", "c", "only-one"},
      {"usage", "add", "session", "t", "many", "time"},
      {"log", "--type", "fatal"},
      {"log", "--last", "-1"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0] + (args.size() > 1 ? " " + args[1] : ""));
    expectFailure(pda(machine, args), 2);
  }
}

TEST(PdaHelp, EveryCommandHasHelpWithExamples) {
  pdatest::TempMachine machine;
  const std::vector<std::vector<std::string>> commands = {{"init"},
                                                          {"doctor"},
                                                          {"unset"},
                                                          {"visa", "unset"},
                                                          {"show"},
                                                          {"get"},
                                                          {"set"},
                                                          {"reg", "query"},
                                                          {"reg", "add"},
                                                          {"reg", "delete"},
                                                          {"alias", "resolve"},
                                                          {"alias", "list"},
                                                          {"visa", "get"},
                                                          {"visa", "set"},
                                                          {"visa", "log-mode"},
                                                          {"favorite"},
                                                          {"chassis", "add"},
                                                          {"chassis", "list"},
                                                          {"chassis", "remove"},
                                                          {"usage", "add"},
                                                          {"usage", "show"},
                                                          {"log"}};
  for (std::vector<std::string> args : commands) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    args.push_back("--help");
    const std::string out = ok(machine, args);
    EXPECT_NE(out.find("Example"), std::string::npos) << out;
  }
}

}  // namespace

#endif
