#pragma once
// The two system prompts of the structuring pass.

#include <QString>

// Turns one memo into a document with a front matter the parser reads back.
const QString &structurePrompt();

// Condenses one passage of a long memo into notes.
const QString &notesPrompt();
