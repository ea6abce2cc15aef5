#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <span>

// Icons are named in code by their SF Symbols names ("trash",
// "waveform.and.magnifyingglass"); this table draws each one with a glyph of
// the Material Icons font, which the program carries as a resource.
struct IconGlyph {
    const char *symbol;   // SF Symbols name used in code
    const char *material; // Material Icons ligature name of the glyph
    char16_t codepoint;   // the glyph's code point in MaterialIcons-Regular.ttf
};

// Every known symbol, sorted by name.
std::span<const IconGlyph> iconGlyphs();
// The code point for a symbol name; nothing for a name the table lacks.
std::optional<char16_t> iconCodepoint(QStringView symbol);
// Resource path of the bundled icon font.
QString iconFontResource();

class IconTable : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Icons)
    QML_SINGLETON
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)

public:
    explicit IconTable(QObject *parent = nullptr);

    // Family name under which the icon font is registered (loads it once).
    static QString fontFamily();

    // The one-character text that draws `symbol` in fontFamily. A name the
    // table lacks draws a question mark glyph and logs a warning, so it cannot
    // pass unnoticed as an empty square.
    Q_INVOKABLE QString glyph(const QString &symbol) const;
    Q_INVOKABLE bool contains(const QString &symbol) const;
};
