#pragma once
// Rows of a tree that wrap their text instead of cutting it.

class QTreeWidget;

// Wraps the rows' text; each row's height follows its columns' widths.
void wrapRows(QTreeWidget *tree);
