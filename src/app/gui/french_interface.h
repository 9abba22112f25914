#pragma once
// Everything the window shows is French: numbers and dates in the French
// format, and Qt's own texts (file chooser, text field menus, standard
// buttons) through Qt's French translation when it is installed.

void useFrenchInterface();
