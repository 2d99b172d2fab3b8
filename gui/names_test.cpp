// File names, command line and the numbered texts of a run.
#include <QLocale>
#include <QTest>

#include "gui/CmdLine.h"
#include "gui/FileNames.h"
#include "gui/RunText.h"
#include "gui/ZELMSetting.h"

using namespace zelm;

class NamesTest : public QObject {
  Q_OBJECT

 private slots:
  void targetName_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::newRow("extension replaced") << "D:\\mail\\outlook.ost" << "D:\\mail\\outlook_recovered.pst";
    QTest::newRow("dot in a folder only") << "D:\\mail.old\\box" << "D:\\mail.old\\box_recovered.pst";
    QTest::newRow("unix folder with dot") << "/home/u/mail.old/box" << "/home/u/mail.old/box_recovered.pst";
    QTest::newRow("no extension") << "/srv/box" << "/srv/box_recovered.pst";
    QTest::newRow("last of several dots") << "/a/b.c.ost" << "/a/b.c_recovered.pst";
    QTest::newRow("drive only") << "C:box" << "C:box_recovered.pst";
    QTest::newRow("trailing dot") << "/a/box." << "/a/box_recovered.pst";
    QTest::newRow("pst source") << "/a/box.pst" << "/a/box_recovered.pst";
  }
  void targetName() {
    QFETCH(QString, source);
    QFETCH(QString, target);
    QCOMPARE(MakeTargetName(source), target);
  }

  void programNameCutsBeforeLastDot() {
    QCOMPARE(ProgramBaseName(QStringLiteral("/opt/brellin/bin/zelm")), QStringLiteral("zelm"));
    QCOMPARE(ProgramBaseName(QStringLiteral("C:\\Programs\\ZELM.EXE")), QStringLiteral("ZELM"));
    QCOMPARE(ProgramBaseName(QStringLiteral("/opt/my.tools/zelm.copy.bin")), QStringLiteral("zelm.copy"));
    QCOMPARE(HelpFileName(QStringLiteral("/opt/brellin/bin/zelm")), QStringLiteral("/opt/brellin/bin/zelm.html"));
    QCOMPARE(HelpFileName(QStringLiteral("/opt/b.d/zelm")), QStringLiteral("/opt/b.d/zelm.html"));
    QCOMPARE(HelpFileName(QStringLiteral("C:\\P\\ZELM.EXE")), QStringLiteral("C:\\P\\ZELM.html"));
  }

  void defaultExtensionOfFilterEntry() {
    const QString save = QStringLiteral("Outlook data files (*.pst)|*.pst|All files (*.*)|*.*");
    QCOMPARE(DefaultExtForFilter(save, 1), QStringLiteral("pst"));
    QCOMPARE(DefaultExtForFilter(save, 2), QString());
    QCOMPARE(DefaultExtForFilter(save, 3), QString());
    QCOMPARE(DefaultExtForFilter(save, 0), QString());
    QCOMPARE(DefaultExtForFilter(QStringLiteral("Logs|*.log;*.txt"), 1), QStringLiteral("log"));
    QCOMPARE(DialogNameFilters(save),
             QStringList({QStringLiteral("Outlook data files (*.pst)"), QStringLiteral("All files (*.*)")}));
    QCOMPARE(DialogNameFilters(QStringLiteral("Logs|*.log;*.txt")), QStringList({QStringLiteral("Logs (*.log *.txt)")}));
  }

  void commandLine() {
    CommandLine line = ParseCommandLine({QStringLiteral("-e"), QStringLiteral("/home/u/box.ost"), QStringLiteral("/O")});
    QVERIFY(line.hasArguments);
    QCOMPARE(line.source, QStringLiteral("/home/u/box.ost"));
    QVERIFY(line.openFixed);
    QVERIFY(line.exitWhenDone);

    line = ParseCommandLine({QStringLiteral("box.ost"), QStringLiteral("other.ost")});
    QCOMPARE(line.source, QStringLiteral("box.ost"));
    QVERIFY(!line.openFixed && !line.exitWhenDone);

    // Longer switches are not the one-letter switches, and a path is no switch.
    line = ParseCommandLine({QStringLiteral("-Exit"), QStringLiteral("/Open")});
    QVERIFY(!line.exitWhenDone && !line.openFixed);
    QCOMPARE(line.source, QStringLiteral("/Open"));

    line = ParseCommandLine({QStringLiteral("-E")});
    QVERIFY(line.hasArguments);
    QVERIFY(line.source.isEmpty());
    QVERIFY(!ParseCommandLine({}).hasArguments);
  }

  void timePatterns() {
    QCOMPARE(FormatElapsedLabel(0), QStringLiteral("0 hour(s) 0 minute(s) "));
    QCOMPARE(FormatElapsedLabel(67 * 60 * 1000 + 59 * 1000), QStringLiteral("1 hour(s) 7 minute(s) "));
    QCOMPARE(FormatConsumedTime((2 * 60 + 5) * 1000 + 31),
             QStringLiteral("Consumed time: 0 hour(s) 2 minute(s) 5 second(s) 31 millisecond(s)."));
    QCOMPARE(FormatConsumedTime(((3 * 60 + 4) * 60 + 5) * 1000 + 6),
             QStringLiteral("Consumed time: 3 hour(s) 4 minute(s) 5 second(s) 6 millisecond(s)."));
    QCOMPARE(FormatProgress(42), QStringLiteral("42% completed"));
  }

  void byteCountsAreGrouped() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(FormatByteCount(0), QStringLiteral("0"));
    QCOMPARE(FormatByteCount(4080640), QStringLiteral("4,080,640"));
    QCOMPARE(FormatByteCount(5'000'000'000LL), QStringLiteral("5,000,000,000"));
    QLocale::setDefault(QLocale::c());
    QCOMPARE(FormatByteCount(271360), QStringLiteral("271,360"));
  }

  void decimalNumbers() {
    std::int32_t v = 0;
    QVERIFY(ParseDecimal(QStringLiteral("1000"), v) && v == 1000);
    QVERIFY(ParseDecimal(QStringLiteral(" -12 "), v) && v == -12);
    QVERIFY(ParseDecimal(QStringLiteral("2147483647"), v) && v == 2147483647);
    QVERIFY(ParseDecimal(QStringLiteral("-2147483648"), v) && v == INT32_MIN);
    for (const char* bad : {"yes", "", " ", "12a", "0x10", "2147483648", "1.5", "+"}) {
      QVERIFY2(!ParseDecimal(QString::fromLatin1(bad), v), bad);
    }
  }
};

QTEST_GUILESS_MAIN(NamesTest)
#include "names_test.moc"
