#include "configfile.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

using namespace velloran;

namespace {

ConfigReadResult parse(const char *xml) {
    return readConfigurationData(QByteArray(xml));
}

bool writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Accepts nothing: every write fails, like a full disk.
class FailingDevice : public QIODevice {
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

} // namespace

TEST(ConfigWriter, ProducesTheDocumentLayout) {
    SimParameters p;
    p[kVf] = 0.5;
    p[kVd] = 250;
    p[kVg] = 0.0001;
    p[kSigma] = 2.2;
    p[kDt] = 0.00001;
    const QByteArray xml = configurationXml(p, QStringLiteral("a & b <c>.png"), QString());
    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<configuration>\n"
                                "    <parameters>\n"
                                "        <vf>0.5</vf>\n"
                                "        <vd>250</vd>\n"
                                "        <vg>0.0001</vg>\n"
                                "        <sigma>2.2</sigma>\n"
                                "        <dt>1e-05</dt>\n"
                                "    </parameters>\n"
                                "    <images>\n"
                                "        <source>a &amp; b &lt;c&gt;.png</source>\n"
                                "        <target></target>\n"
                                "    </images>\n"
                                "</configuration>\n";
    EXPECT_EQ(xml.toStdString(), expected.toStdString());
}

TEST(ConfigWriter, NumbersUseSixSignificantDigits) {
    SimParameters p;
    p[kVf] = 1234567;
    p[kVd] = 0.123456789;
    p[kVg] = 1e21;
    const QByteArray xml = configurationXml(p, QString(), QString());
    EXPECT_TRUE(xml.contains("<vf>1.23457e+06</vf>"));
    EXPECT_TRUE(xml.contains("<vd>0.123457</vd>"));
    EXPECT_TRUE(xml.contains("<vg>1e+21</vg>"));
    EXPECT_TRUE(xml.contains("<sigma>0.1</sigma>"));
    EXPECT_TRUE(xml.contains("<dt>0</dt>"));
}

TEST(ConfigWriter, SuffixRule) {
    EXPECT_EQ(withXmlSuffix("settings"), "settings.xml");
    EXPECT_EQ(withXmlSuffix("Settings.XML"), "Settings.XML");
    EXPECT_EQ(withXmlSuffix("run.xm"), "run.xm.xml");
    EXPECT_EQ(withXmlSuffix("xml"), "xml.xml");
    EXPECT_EQ(withXmlSuffix(".xml"), ".xml");
    EXPECT_EQ(withXmlSuffix("a"), "a.xml");
}

TEST(ConfigWriter, RoundTripThroughAFileReproducesEveryValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("run.xml");
    ASSERT_TRUE(writeFile(path, "old content that is longer than nothing"));

    // Every spin-box value survives six significant digits: the largest values
    // with the most decimals are the hard cases.
    SimParameters p;
    p[kVf] = 999.9;
    p[kVd] = 123.4;
    p[kVg] = 0.9999;
    p[kSigma] = 9.7;
    p[kDt] = 0.99999;
    const QString src = QStringLiteral("dir with space/é & <x>.png");
    const QString tgt = QStringLiteral("/abs/\"quoted\"'.png");
    QString error;
    ASSERT_TRUE(writeConfigurationFile(path, p, src, tgt, &error)) << error.toStdString();

    const ConfigReadResult r = readConfigurationFile(path);
    ASSERT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_TRUE(r.rootRecognised);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        ASSERT_TRUE(r.configuration.values[k].has_value());
        EXPECT_EQ(clampParameter(k, *r.configuration.values[k]), p[k]) << k;
    }
    EXPECT_EQ(r.configuration.source, src);
    EXPECT_EQ(r.configuration.target, tgt);
}

TEST(ConfigWriter, FailuresAreReportedAndLeaveNoFileBehind) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SimParameters p;
    QString error;
    EXPECT_FALSE(writeConfigurationFile(dir.filePath("missing/dir/run.xml"), p, "", "", &error));
    EXPECT_FALSE(error.isEmpty());

    if (::geteuid() != 0) { // root writes anywhere
        const QString locked = dir.filePath("locked");
        ASSERT_TRUE(QDir().mkdir(locked));
        const QString existing = locked + "/run.xml";
        ASSERT_TRUE(writeFile(existing, "keep me"));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(writeConfigurationFile(existing, p, "", "", &error));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QFile kept(existing);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
    }

    // A parent that is a file, and a name that is a directory or a device:
    // refused, and the device is left as it was.
    const QString plain = dir.filePath("plain");
    ASSERT_TRUE(writeFile(plain, "x"));
    EXPECT_FALSE(writeConfigurationFile(plain + "/run.xml", p, "", "", &error));
    EXPECT_FALSE(writeConfigurationFile(dir.path(), p, "", "", &error));
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(writeConfigurationFile(fifo, p, "", "", &error));
    EXPECT_FALSE(QFileInfo(fifo).isFile());

    // A path XML cannot carry (a control character) fails the save instead of
    // writing a file that could not be read back; the old file stays.
    const QString kept = dir.filePath("kept.xml");
    ASSERT_TRUE(writeFile(kept, "old"));
    EXPECT_FALSE(writeConfigurationFile(kept, p, QString("a") + QChar(1) + "b", "", &error));
    QFile old(kept);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));

    // A write that fails after the device was opened is reported.
    FailingDevice failing;
    ASSERT_TRUE(failing.open(QIODevice::WriteOnly));
    EXPECT_FALSE(writeConfiguration(&failing, p, "", ""));
}

TEST(ConfigReader, DistinguishesOpenFailureFromBadXml) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(readConfigurationFile(dir.filePath("nope.xml")).status, ConfigStatus::OpenFailed);
    EXPECT_EQ(readConfigurationFile(dir.path()).status, ConfigStatus::OpenFailed);

    const QString empty = dir.filePath("empty.xml");
    ASSERT_TRUE(writeFile(empty, ""));
    EXPECT_EQ(readConfigurationFile(empty).status, ConfigStatus::NotWellFormed);

    EXPECT_EQ(parse("just text").status, ConfigStatus::NotWellFormed);
    EXPECT_EQ(parse("<configuration><parameters></configuration>").status,
              ConfigStatus::NotWellFormed);
    EXPECT_EQ(parse("<configuration/><configuration/>").status, ConfigStatus::NotWellFormed);
    EXPECT_EQ(parse("<?xml version=\"1.0\"?>").status, ConfigStatus::NotWellFormed);
    EXPECT_EQ(parse("\xff\xfe\x00garbage").status, ConfigStatus::NotWellFormed);
    // A broken document applies nothing, even what came before the error.
    const ConfigReadResult broken = parse("<configuration><parameters><vf>3</vf></parameters>");
    EXPECT_EQ(broken.status, ConfigStatus::NotWellFormed);
    EXPECT_TRUE(broken.configuration.isEmpty());
    EXPECT_FALSE(broken.detail.isEmpty());
}

TEST(ConfigReader, OtherRootParsesButAppliesNothing) {
    const ConfigReadResult r = parse("<settings><parameters><vf>3</vf></parameters></settings>");
    EXPECT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_FALSE(r.rootRecognised);
    EXPECT_TRUE(r.configuration.isEmpty());
    // Tag names are case-sensitive.
    EXPECT_FALSE(parse("<Configuration/>").rootRecognised);
    EXPECT_TRUE(parse("<configuration/>").rootRecognised);
}

TEST(ConfigReader, ReaderRules) {
    // Missing values stay unset; only dt here.
    ConfigReadResult r = parse("<configuration><parameters><dt>0.001</dt></parameters>"
                               "</configuration>");
    ASSERT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_EQ(r.configuration.values[kDt], 0.001);
    EXPECT_FALSE(r.configuration.values[kVf]);
    EXPECT_FALSE(r.configuration.source);

    // Sections in any order, last occurrence wins, across sections too;
    // unknown elements, comments, processing instructions and text are skipped.
    r = parse("<?xml version=\"1.0\"?>\n<!-- c --><configuration>\n"
              "  <images><source>first.png</source><target>t.png</target></images>\n"
              "  <junk><vf>7</vf><parameters><vf>8</vf></parameters></junk>\n"
              "  stray text <?pi x?>\n"
              "  <parameters><vf>1</vf><vd>2</vd><vf>3</vf><VF>9</VF></parameters>\n"
              "  <parameters><vd>4</vd></parameters>\n"
              "  <images><source>second.png</source><unknown/></images>\n"
              "  <vg>0.5</vg>\n"
              "</configuration>");
    ASSERT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_EQ(r.configuration.values[kVf], 3.0);
    EXPECT_EQ(r.configuration.values[kVd], 4.0);
    EXPECT_FALSE(r.configuration.values[kVg]); // not inside parameters
    EXPECT_EQ(r.configuration.source, QStringLiteral("second.png"));
    EXPECT_EQ(r.configuration.target, QStringLiteral("t.png"));

    // An element's text is all the text it contains; white space around a
    // number is allowed; CDATA and character references count as text.
    r = parse("<configuration><parameters><vf>\n  12.5\n</vf><vd>1<b>0</b></vd>"
              "<vg><![CDATA[0.25]]></vg><dt>&#48;.5</dt></parameters>"
              "<images><source>a &amp; b</source><target/></images></configuration>");
    ASSERT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_EQ(r.configuration.values[kVf], 12.5);
    EXPECT_EQ(r.configuration.values[kVd], 10.0);
    EXPECT_EQ(r.configuration.values[kVg], 0.25);
    EXPECT_EQ(r.configuration.values[kDt], 0.5);
    EXPECT_EQ(r.configuration.source, QStringLiteral("a & b"));
    EXPECT_EQ(r.configuration.target, QString(""));
}

TEST(ConfigReader, NumbersThatAreNotNumbers) {
    EXPECT_EQ(configNumber("abc"), 0.0);
    EXPECT_EQ(configNumber(""), 0.0);
    EXPECT_EQ(configNumber("1,5"), 0.0);
    EXPECT_EQ(configNumber("nan"), 0.0);
    EXPECT_EQ(configNumber("-nan"), 0.0);
    EXPECT_EQ(configNumber(" 1.5 "), 1.5);
    EXPECT_EQ(configNumber("1e-05"), 0.00001);
    EXPECT_TRUE(std::isinf(configNumber("inf")));
    EXPECT_TRUE(std::isinf(configNumber("1e400")));
    EXPECT_LT(configNumber("-1e400"), 0.0);

    // Through the clamp: "abc" gives 0, or sigma's minimum; absurd values the bound.
    const ConfigReadResult r = parse("<configuration><parameters><vf>abc</vf><sigma>abc</sigma>"
                                     "<vd>1e400</vd><vg>nan</vg><dt>-inf</dt></parameters>"
                                     "</configuration>");
    ASSERT_EQ(r.status, ConfigStatus::Parsed);
    EXPECT_EQ(clampParameter(kVf, *r.configuration.values[kVf]), 0.0);
    EXPECT_EQ(clampParameter(kSigma, *r.configuration.values[kSigma]), 0.1);
    EXPECT_EQ(clampParameter(kVd, *r.configuration.values[kVd]), 1000.0);
    EXPECT_EQ(clampParameter(kVg, *r.configuration.values[kVg]), 0.0);
    EXPECT_EQ(clampParameter(kDt, *r.configuration.values[kDt]), 0.0);
}

TEST(ConfigReader, HostileDocuments) {
    // Exponential entity expansion must end as an error, quickly.
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE configuration [\n"
                        "<!ENTITY a0 \"laugh\">\n";
    for (int k = 1; k <= 12; ++k) {
        laughs += QStringLiteral("<!ENTITY a%1 \"").arg(k).toUtf8();
        for (int n = 0; n < 10; ++n) {
            laughs += QStringLiteral("&a%1;").arg(k - 1).toUtf8();
        }
        laughs += "\">\n";
    }
    laughs += "]>\n<configuration><images><source>&a12;</source></images></configuration>";
    const ConfigReadResult bomb = readConfigurationData(laughs);
    EXPECT_EQ(bomb.status, ConfigStatus::NotWellFormed);
    EXPECT_FALSE(bomb.configuration.source);
    EXPECT_TRUE(bomb.detail.contains("document type declaration")) << bomb.detail.toStdString();

    // External entities are never fetched: the secret does not show up.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secret = dir.filePath("secret.txt");
    ASSERT_TRUE(writeFile(secret, "SECRET"));
    const QByteArray external = "<?xml version=\"1.0\"?>\n<!DOCTYPE configuration [\n"
                                "<!ENTITY x SYSTEM \"file://" +
                                secret.toUtf8() +
                                "\">]>\n"
                                "<configuration><images><source>&x;</source></images>"
                                "</configuration>";
    const ConfigReadResult ext = readConfigurationData(external);
    EXPECT_EQ(ext.status, ConfigStatus::NotWellFormed);
    EXPECT_FALSE(ext.configuration.source);

    // Deep nesting, well-formed and not: no crash, no stack exhaustion.
    const int depth = 140000;
    QByteArray deep = "<configuration><parameters><vf>";
    deep += QByteArray("<a>").repeated(depth);
    deep += "5";
    deep += QByteArray("</a>").repeated(depth);
    deep += "</vf></parameters></configuration>";
    ASSERT_LE(deep.size(), kMaxConfigurationBytes);
    const ConfigReadResult deepResult = readConfigurationData(deep);
    EXPECT_EQ(deepResult.status, ConfigStatus::Parsed);
    EXPECT_EQ(deepResult.configuration.values[kVf], 5.0);
    EXPECT_EQ(readConfigurationData(QByteArray("<x>").repeated(300000)).status,
              ConfigStatus::NotWellFormed);

    // Oversized files are refused before parsing, also through the file reader.
    QByteArray huge = "<configuration>";
    huge += QByteArray(static_cast<int>(kMaxConfigurationBytes), ' ');
    huge += "</configuration>";
    EXPECT_EQ(readConfigurationData(huge).status, ConfigStatus::NotWellFormed);
    const QString hugePath = dir.filePath("huge.xml");
    ASSERT_TRUE(writeFile(hugePath, huge));
    EXPECT_EQ(readConfigurationFile(hugePath).status, ConfigStatus::NotWellFormed);
}

// A configuration needs no DTD, so none is accepted: the verdict comes at the
// declaration, before a single entity is expanded. One entity of 3000
// characters referenced 300000 times fits in a megabyte and would expand to
// about 900 million characters.
TEST(ConfigReader, DocumentTypeDeclarationsAreRefusedBeforeAnyExpansion) {
    QByteArray blowUp = "<?xml version=\"1.0\"?><!DOCTYPE configuration [<!ENTITY e \"" +
                        QByteArray(3000, 'A') + "\">]><configuration><images><source>";
    blowUp += QByteArray("&e;").repeated(300000);
    blowUp += "</source></images></configuration>";
    ASSERT_LE(blowUp.size(), kMaxConfigurationBytes);
    for (const QByteArray &document :
         {blowUp, QByteArray("<!DOCTYPE configuration><configuration/>"),
          QByteArray("<?xml version=\"1.0\"?>\n<!-- note -->\n<!DOCTYPE configuration SYSTEM "
                     "\"http://example.invalid/c.dtd\">\n<configuration/>")}) {
        const ConfigReadResult r = readConfigurationData(document);
        EXPECT_EQ(r.status, ConfigStatus::NotWellFormed);
        EXPECT_TRUE(r.configuration.isEmpty());
        EXPECT_TRUE(r.detail.endsWith("a document type declaration (<!DOCTYPE>) is not allowed "
                                      "in a configuration file"))
            << r.detail.toStdString();
    }

    // Without a DTD an entity other than the five predefined ones is unknown.
    const ConfigReadResult undeclared =
        parse("<configuration><images><source>&secret;</source></images></configuration>");
    EXPECT_EQ(undeclared.status, ConfigStatus::NotWellFormed);
    EXPECT_TRUE(undeclared.detail.contains("not declared")) << undeclared.detail.toStdString();
    // The predefined entities and character references still work: the writer
    // needs them for names with '&' or '<'.
    const ConfigReadResult escaped =
        parse("<configuration><images><source>a&amp;b&lt;c&#x41;&#66;.png</source></images>"
              "</configuration>");
    ASSERT_EQ(escaped.status, ConfigStatus::Parsed);
    EXPECT_EQ(*escaped.configuration.source, "a&b<cAB.png");
}

// An error before the root element is the parser's to explain: bad encoding
// or a broken declaration is not a missing root.
TEST(ConfigReader, ErrorsBeforeTheRootGiveTheParsersReason) {
    const ConfigReadResult badUtf8 = readConfigurationData(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\xff\xfe<configuration/>");
    EXPECT_EQ(badUtf8.status, ConfigStatus::NotWellFormed);
    EXPECT_TRUE(badUtf8.detail.endsWith(": Encountered incorrectly encoded content."))
        << badUtf8.detail.toStdString();
    const ConfigReadResult version = parse("<?xml version=\"9.9\"?><configuration/>");
    EXPECT_EQ(version.detail, "1:21: Unsupported XML version.");
    EXPECT_TRUE(parse("<!-- nothing -->").detail.endsWith("Premature end of document."));
}

// A FIFO (or a directory, or a device) is refused at once, not waited on.
TEST(ConfigReader, OnlyRegularFilesAreRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("config.xml");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")}) {
        const ConfigReadResult r = readConfigurationFile(path);
        EXPECT_EQ(r.status, ConfigStatus::OpenFailed) << path.toStdString();
        EXPECT_EQ(r.detail, "not a regular file") << path.toStdString();
    }
    const ConfigReadResult missing = readConfigurationFile(dir.filePath("nope.xml"));
    EXPECT_EQ(missing.detail, "No such file or directory");
    // A name whose bytes were not UTF-8 lost them on the way in; say so.
    const ConfigReadResult mangled =
        readConfigurationFile(dir.filePath(QStringLiteral("caf") + QChar::ReplacementCharacter));
    EXPECT_TRUE(mangled.detail.startsWith("the file name is not valid UTF-8"))
        << mangled.detail.toStdString();
}
