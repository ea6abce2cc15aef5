#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

#include "model/palette.h"

// The palette as QML sees it. Theme.qml reads its colours from here, so the
// sRGB values exist once, in the core library.
class PaletteBridge : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(ThemePalette)
    QML_SINGLETON
    Q_PROPERTY(QColor backgroundDeep MEMBER m_backgroundDeep CONSTANT)
    Q_PROPERTY(QColor backgroundPanel MEMBER m_backgroundPanel CONSTANT)
    Q_PROPERTY(QColor backgroundCard MEMBER m_backgroundCard CONSTANT)
    Q_PROPERTY(QColor backgroundRaised MEMBER m_backgroundRaised CONSTANT)
    Q_PROPERTY(QColor neonCyan MEMBER m_neonCyan CONSTANT)
    Q_PROPERTY(QColor neonPink MEMBER m_neonPink CONSTANT)
    Q_PROPERTY(QColor neonBlue MEMBER m_neonBlue CONSTANT)
    Q_PROPERTY(QColor neonPurple MEMBER m_neonPurple CONSTANT)
    Q_PROPERTY(QColor neonGreen MEMBER m_neonGreen CONSTANT)
    Q_PROPERTY(QColor neonOrange MEMBER m_neonOrange CONSTANT)
    Q_PROPERTY(QColor neonRed MEMBER m_neonRed CONSTANT)
    Q_PROPERTY(QColor textPrimary MEMBER m_textPrimary CONSTANT)
    Q_PROPERTY(QColor textSecondary MEMBER m_textSecondary CONSTANT)
    Q_PROPERTY(QColor textMuted MEMBER m_textMuted CONSTANT)

public:
    using QObject::QObject;

    // A palette colour by its code name ("neonCyan"); transparent for an
    // unknown name, with a warning, so a typo shows up in the test logs.
    Q_INVOKABLE QColor named(const QString &name) const;

private:
    QColor m_backgroundDeep = paletteColor(PaletteColor::backgroundDeep);
    QColor m_backgroundPanel = paletteColor(PaletteColor::backgroundPanel);
    QColor m_backgroundCard = paletteColor(PaletteColor::backgroundCard);
    QColor m_backgroundRaised = paletteColor(PaletteColor::backgroundRaised);
    QColor m_neonCyan = paletteColor(PaletteColor::neonCyan);
    QColor m_neonPink = paletteColor(PaletteColor::neonPink);
    QColor m_neonBlue = paletteColor(PaletteColor::neonBlue);
    QColor m_neonPurple = paletteColor(PaletteColor::neonPurple);
    QColor m_neonGreen = paletteColor(PaletteColor::neonGreen);
    QColor m_neonOrange = paletteColor(PaletteColor::neonOrange);
    QColor m_neonRed = paletteColor(PaletteColor::neonRed);
    QColor m_textPrimary = paletteColor(PaletteColor::textPrimary);
    QColor m_textSecondary = paletteColor(PaletteColor::textSecondary);
    QColor m_textMuted = paletteColor(PaletteColor::textMuted);
};

// The family of the theme's monospaced design: JetBrains Mono where the
// system has it (Debian: fonts-jetbrains-mono), else the system's own fixed
// font, so text never falls back to a proportional face.
class ThemeFonts : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString monospacedFamily READ monospacedFamily CONSTANT)

public:
    using QObject::QObject;

    static QString monospacedFamily();
};
