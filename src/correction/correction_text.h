#pragma once
// Text handling around a correction: which transcripts are worth sending,
// how long ones are cut into pieces the model can take, and how the chatter
// models put around their answer is removed.

#include <QString>
#include <QStringList>

namespace Corrector {

// Longest transcript (in user-perceived characters, after trimming) that is
// left as it is: too short for a model to improve, and models tend to answer
// a few words with a question instead of a correction.
inline constexpr int shortTextLimit = 29;

// Largest piece of a transcript sent in one request, in UTF-16 units.
inline constexpr int chunkLimit = 6000;

// Number of grapheme clusters (what a reader counts as characters).
int graphemeCount(const QString &text);

// True when the trimmed text has at most shortTextLimit grapheme clusters.
bool isTooShortToCorrect(const QString &text);

// Cuts a text longer than `limit` at line breaks into pieces of at most
// `limit` units; a single longer line is cut into pieces of `limit` units
// (never between the two halves of a surrogate pair). A text within the limit
// is its own single piece; an empty text gives no piece.
QStringList splitIntoChunks(const QString &text, int limit = chunkLimit);

// Bounds of a plausible correction: its length against the text's (in
// grapheme clusters), and the share of its distinct words found in the text.
inline constexpr double shortestCorrection = 0.4;
inline constexpr double longestCorrection = 2.0;
inline constexpr double leastSharedWords = 0.5;

// True when `answer` can be a correction of `text`: neither far shorter nor
// far longer, and made mostly of the text's own words (compared without case
// or accents). A refusal ("Je suis désolé, je ne peux pas…"), a bare "OK" or
// an answer about something else is not.
bool isPlausibleCorrection(const QString &text, const QString &answer);

// Removes an introductory sentence ("Voici le texte corrigé :"), a heading
// ("Texte corrigé :") and a surrounding code fence from a model's answer,
// then trims it.
QString stripPreamble(const QString &answer);

} // namespace Corrector
