#pragma once

#include "transfer/foreign.h"

#include <memory>

class QIODevice;

namespace tarlivo::transfer {

enum class ForeignKind { Kvtml, Pauker };

class ForeignParse;

// A kvtml file or a Pauker lesson, gzipped or not, read as its cards are asked for.
// They come in file order, each as soon as it is read, so that the first cards are
// stored while the rest is read; only a kvtml file's cards wait for its end, where
// its lessons (their subjects) follow the entries, unless the subjects are given.
// A file read whole at once, with its subjects, is kept, so that reading it again
// costs nothing.
class ForeignFile {
public:
    // Opens the file and reads up to its first element, which says its kind. Throws TransferError.
    explicit ForeignFile(const QString &path);
    ~ForeignFile();
    ForeignFile(const ForeignFile &) = delete;
    ForeignFile &operator=(const ForeignFile &) = delete;

    ForeignKind kind() const { return m_kind; }
    // The next card, or an entry refused (then refused is set); false at the end.
    // A fault met on the way throws TransferError.
    bool next(ForeignCard &card, RefusedLine &refusal, bool &refused);
    // From the first card again.
    void restart();
    // Whether the caller gives the cards their subject (see ForeignReader); from the next start.
    void setSubjectsGiven(bool given);

private:
    bool fill();

    // About the cards a piece of 64 KB of XML holds.
    static constexpr size_t kCardsPerPiece = 200;

    QString m_path;
    ForeignKind m_kind = ForeignKind::Kvtml;
    std::unique_ptr<ForeignParse> m_parse; // none: not begun, or kept whole
    ForeignCards m_ready;                  // taken from the front
    size_t m_nextRefused = 0;
    size_t m_nextCard = 0;
    bool m_kept = false;  // m_ready holds the whole file
    bool m_begun = false; // m_parse has read past the first element
    bool m_subjectsGiven = false;
};

// Reads the device's file whole; the cards in queue order. Throws TransferError.
ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind);

} // namespace tarlivo::transfer
