#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

// One entry per parser of untrusted input; each takes any bytes and must neither
// crash, hang nor leak, whatever they are.
namespace fuzz {

void text(const uint8_t *data, size_t size);   // encoding detection and delimited text
void html(const uint8_t *data, size_t size);   // HTML to plain text
void anki(const uint8_t *data, size_t size);   // Anki packages: zip, zstd, the collection
void kvtml(const uint8_t *data, size_t size);  // KWordQuiz and Parley files, kvtml 1 and 2
void pauker(const uint8_t *data, size_t size); // Pauker lessons, gzipped or not

// Well-formed inputs of each, to start mutating from.
QList<QByteArray> textSeeds();
QList<QByteArray> htmlSeeds();
QList<QByteArray> ankiSeeds();
QList<QByteArray> kvtmlSeeds();
QList<QByteArray> paukerSeeds();

} // namespace fuzz
