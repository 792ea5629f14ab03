#pragma once

#include <QString>

class QAction;
class QMenu;
class QObject;

// Translates, in place, the captions of a widget and of every object below
// it (Translate of each text; Korean texts are the keys):
// - a combo box: its item texts, and nothing below it;
// - an item view: its column headers, and nothing below it;
// - a top-level window: its title, with the language "en", so that every
//   user whose language is not Korean sees the English title;
// - group box titles, label texts, button texts (check, radio, push, tool),
//   menu actions and menu titles.
// Line edits, tool tips and other properties keep their texts. A language
// that is not empty becomes the current language first, for this call and
// every later lookup. Menu actions are reached twice (through their menu
// and as children); translating a translated text changes nothing.
void TranslateComponent(QObject *component, const QString &language = QString());

// Translates a menu's actions and every sub-menu below them, depth first.
void TranslateMenuItem(QMenu *menu);
void TranslateMenuItem(QAction *item);
