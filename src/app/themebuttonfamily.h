#pragma once

#include <QColor>
#include <QDialogButtonBox>
#include <QString>
#include <QStringList>

#include <memory>

// The five states a styled button is painted in.
enum class TButtonState { Normal, Pressed, Selected, Hot, Disabled };

// Outline of a styled button; its corner radius comes from the control.
enum class TButtonShape { RoundRect };

// Text decoration of a styled button's caption.
enum class TButtonTextStyle { Plain };

// How one state of a styled button is painted. A fill colour is kept even
// when FillSolid is false, but is then not painted; likewise the border.
struct TButtonStateAttributes {
    bool FillSolid = false;
    QColor FillColor;
    bool BorderSolid = false;
    QColor BorderColor;
    QColor TextColor;
    TButtonShape Shape = TButtonShape::RoundRect;
    int BorderWidth = 0; // 0: the thinnest line the painter draws
    TButtonTextStyle TextStyle = TButtonTextStyle::Plain;
};

struct TButtonAttributes {
    TButtonStateAttributes States[5]; // indexed by TButtonState

    TButtonStateAttributes &operator[](TButtonState s) { return States[static_cast<int>(s)]; }
    const TButtonStateAttributes &operator[](TButtonState s) const { return States[static_cast<int>(s)]; }
};

// A class and an appearance of a button family, as a control names them.
struct TButtonStyleName {
    QString ButtonClass;
    QString Appearance;
};

// A family of button looks that styled controls ask for by name.
class TButtonFamily
{
  public:
    virtual ~TButtonFamily() = default;

    // The attributes of the five states for one class and appearance.
    virtual TButtonAttributes attributes(const QString &family, const QString &buttonClass,
                                         const QString &appearance) const = 0;
    virtual QString familyName() const = 0;
    virtual QStringList buttonClasses() const = 0;
    virtual QStringList buttonAppearances() const = 0;
    // The class and appearance a dialog button with the given result gets.
    virtual TButtonStyleName defaultStyle(QDialogButtonBox::StandardButton result) const = 0;
};

// Registry of button families, keyed by family name (case-insensitive).
// Registering a name again replaces the earlier family. Used on the GUI thread.
void RegisterButtonFamily(std::unique_ptr<TButtonFamily> family);
void UnregisterButtonFamily(const QString &name);
// The registered family of that name, or null. Valid until it is unregistered.
const TButtonFamily *FindButtonFamily(const QString &name);
