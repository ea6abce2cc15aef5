#include <QDirIterator>
#include <QFile>
#include <QPainterPath>
#include <QRawFont>
#include <QRegularExpression>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include "icontable.h"
#include "model/recoveryenums.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

class IconsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tableIsSortedAndUnique();
    void everyGlyphIsInTheFont();
    void glyphsMatchTheFontsNames();
    void enumerationSymbolsAreKnown();
    void symbolsInQmlAreKnown();
    void unknownSymbolIsVisibleAndReported();
};

void IconsTest::tableIsSortedAndUnique()
{
    const auto glyphs = iconGlyphs();
    for (std::size_t i = 1; i < glyphs.size(); ++i) {
        QVERIFY2(qstrcmp(glyphs[i - 1].symbol, glyphs[i].symbol) < 0, glyphs[i].symbol);
    }
    for (const IconGlyph &glyph : glyphs)
        QCOMPARE(iconCodepoint(QString::fromLatin1(glyph.symbol)), std::optional<char16_t>(glyph.codepoint));
}

void IconsTest::everyGlyphIsInTheFont()
{
    QFile resource(iconFontResource());
    QVERIFY2(resource.open(QIODevice::ReadOnly), "icon font missing from the resources");
    const QRawFont font(resource.readAll(), 24);
    QVERIFY(font.isValid());
    QCOMPARE(font.familyName(), IconTable::fontFamily());
    for (const IconGlyph &glyph : iconGlyphs()) {
        QVERIFY2(font.supportsCharacter(QChar(glyph.codepoint)), glyph.symbol);
        // A glyph with no outline would draw an empty square.
        const QList<quint32> indexes = font.glyphIndexesForString(QString(QChar(glyph.codepoint)));
        QCOMPARE(indexes.size(), 1);
        QVERIFY2(!font.pathForGlyph(indexes.first()).isEmpty(), glyph.symbol);
    }
}

void IconsTest::glyphsMatchTheFontsNames()
{
    // The font package lists each glyph's name and code point for its CSS.
    QFile names(QStringLiteral("/usr/share/fonts-material-design-icons-iconfont/scss/_variables.scss"));
    if (!names.open(QIODevice::ReadOnly | QIODevice::Text))
        QSKIP("the icon font's name list is not installed");
    QHash<QString, char16_t> codepoints;
    static const QRegularExpression entry(QStringLiteral("^\\s*\"([a-z0-9_]+)\":\\s*([0-9a-f]{4}),"));
    while (!names.atEnd()) {
        const QRegularExpressionMatch match = entry.match(QString::fromUtf8(names.readLine()));
        if (match.hasMatch())
            codepoints.insert(match.captured(1), static_cast<char16_t>(match.captured(2).toUInt(nullptr, 16)));
    }
    QVERIFY(codepoints.size() > 1000);
    for (const IconGlyph &glyph : iconGlyphs()) {
        const QString material = QString::fromLatin1(glyph.material);
        QVERIFY2(codepoints.contains(material), glyph.material);
        QCOMPARE(codepoints.value(material), glyph.codepoint);
    }
}

void IconsTest::enumerationSymbolsAreKnown()
{
    QStringList symbols;
    for (NavigationItem item : allNavigationItems())
        symbols << icon(item);
    for (FileCategory category : allFileCategories())
        symbols << icon(category);
    for (CarvedFileHealth health : allCarvedFileHealths())
        symbols << icon(health);
    for (RecoveryStatus status : allRecoveryStatuses())
        symbols << icon(status);
    for (const QString &symbol : std::as_const(symbols))
        QVERIFY2(iconCodepoint(symbol), qPrintable(symbol));
}

void IconsTest::symbolsInQmlAreKnown()
{
    // Every literal on a `symbol:` line, e.g. symbol: isOn ? "eye" : "eye.slash".
    static const QRegularExpression literal(QStringLiteral("\"([^\"]+)\""));
    int checked = 0;
    QDirIterator files(QStringLiteral(QUORVEL_SOURCE_DIR "/src"), {QStringLiteral("*.qml")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        int lineNumber = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine());
            ++lineNumber;
            if (!line.contains(QLatin1String("symbol:")))
                continue;
            auto matches = literal.globalMatch(line.section(QLatin1String("symbol:"), 1));
            while (matches.hasNext()) {
                const QString symbol = matches.next().captured(1);
                ++checked;
                QVERIFY2(iconCodepoint(symbol), qPrintable(QStringLiteral("%1:%2: %3").arg(file.fileName()).arg(lineNumber).arg(symbol)));
            }
        }
    }
    QVERIFY(checked > 5);
}

void IconsTest::unknownSymbolIsVisibleAndReported()
{
    IconTable table;
    QTest::ignoreMessage(QtWarningMsg, "Icons: no glyph for the symbol \"no.such.symbol\"");
    const QString fallback = table.glyph(QStringLiteral("no.such.symbol"));
    QCOMPARE(fallback.size(), 1);
    QCOMPARE(fallback, table.glyph(QStringLiteral("questionmark.circle")));
    QVERIFY(!table.contains(QStringLiteral("no.such.symbol")));
}

QTEST_MAIN(IconsTest)
#include "tst_icons.moc"
