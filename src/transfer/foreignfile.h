#pragma once

#include "transfer/foreign.h"

#include <memory>

class QIODevice;

namespace tarlivo::transfer {

enum class ForeignKind { Kvtml, Pauker };

class ForeignParse;

// A kvtml file or a Pauker lesson, gzipped or not, read as its cards are asked for.
// They come in queue order, each once its place in the queue is settled: a Pauker
// lesson's batch by batch, so that its first cards are stored while the rest is
// read (compartment 1's cards, which hold no times, each as it is read), a
// kvtml file's at its end (its lessons follow its entries). A kvtml file is
// read whole when opened and kept, so that reading it again costs nothing.
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
};

// Reads the device's file whole; the cards in queue order. Throws TransferError.
ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind);

} // namespace tarlivo::transfer
