#include "xmlfloor.h"

#include <QElapsedTimer>
#include <QFile>

#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <zlib.h>

#include <stdexcept>
#include <vector>

namespace tarlivo::bench {
namespace {

struct Counts {
    long long elements = 0;
    long long textBytes = 0;
};

void onStart(void *ctx, const xmlChar *, const xmlChar *, const xmlChar *, int, const xmlChar **, int, int,
             const xmlChar **)
{
    ++static_cast<Counts *>(ctx)->elements;
}
void onEnd(void *, const xmlChar *, const xmlChar *, const xmlChar *) {}
void onText(void *ctx, const xmlChar *, int length) { static_cast<Counts *>(ctx)->textBytes += length; }

// The file's bytes as the reader asks for them, unpacked where it is gzipped.
struct Source {
    QFile file;
    bool gzip = false;
    z_stream z{};
    std::vector<char> in = std::vector<char>(1 << 16);
    bool failed = false;

    int read(char *buffer, int length)
    {
        if (!gzip) {
            const qint64 n = file.read(buffer, length);
            failed = failed || n < 0;
            return int(n);
        }
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = uInt(length);
        while (z.avail_out == uInt(length)) {
            if (z.avail_in == 0) {
                const qint64 n = file.read(in.data(), qint64(in.size()));
                if (n <= 0) {
                    failed = failed || n < 0;
                    break;
                }
                z.next_in = reinterpret_cast<Bytef *>(in.data());
                z.avail_in = uInt(n);
            }
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END)
                break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                failed = true;
                return -1;
            }
        }
        return length - int(z.avail_out);
    }
};

int readSource(void *context, char *buffer, int length) { return static_cast<Source *>(context)->read(buffer, length); }
int closeSource(void *) { return 0; }

} // namespace

double xmlStreamRead(const QString &path, long long *elements)
{
    Source source;
    source.file.setFileName(path);
    if (!source.file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open the XML file");
    QElapsedTimer timer;
    timer.start();
    source.gzip = path.endsWith(QLatin1String(".gz"));
    if (source.gzip)
        inflateInit2(&source.z, 16 + MAX_WBITS);
    xmlTextReaderPtr reader = xmlReaderForIO(readSource, closeSource, &source, nullptr, nullptr, XML_PARSE_NONET);
    if (!reader)
        throw std::runtime_error("cannot start libxml2's reader");
    long long count = 0;
    int rc = 0;
    while ((rc = xmlTextReaderRead(reader)) == 1)
        count += xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT;
    xmlFreeTextReader(reader);
    if (source.gzip)
        inflateEnd(&source.z);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (rc != 0 || source.failed || count == 0)
        throw std::runtime_error("the XML floor read nothing");
    *elements = count;
    return ms;
}

double xmlSaxRead(const QString &path, long long *elements)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open the XML file");
    QElapsedTimer timer;
    timer.start();
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = onStart;
    sax.endElementNs = onEnd;
    sax.characters = onText;
    Counts counts;
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, &counts, nullptr, 0, nullptr);
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
    std::vector<char> in(1 << 16), out(1 << 16);
    const bool gzip = path.endsWith(QLatin1String(".gz"));
    z_stream z{};
    if (gzip)
        inflateInit2(&z, 16 + MAX_WBITS);
    for (;;) {
        const qint64 n = file.read(in.data(), qint64(in.size()));
        if (n < 0)
            throw std::runtime_error("cannot read the XML file");
        if (!gzip) {
            xmlParseChunk(ctxt, in.data(), int(n), n == 0);
        } else {
            z.next_in = reinterpret_cast<Bytef *>(in.data());
            z.avail_in = uInt(n);
            do {
                z.next_out = reinterpret_cast<Bytef *>(out.data());
                z.avail_out = uInt(out.size());
                const int rc = inflate(&z, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                    throw std::runtime_error("cannot inflate the file");
                xmlParseChunk(ctxt, out.data(), int(out.size() - z.avail_out), 0);
            } while (z.avail_out == 0);
            if (n == 0)
                xmlParseChunk(ctxt, nullptr, 0, 1);
        }
        if (n == 0)
            break;
    }
    if (gzip)
        inflateEnd(&z);
    const bool wellFormed = ctxt->wellFormed;
    xmlFreeParserCtxt(ctxt);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (!wellFormed || counts.elements == 0)
        throw std::runtime_error("the XML floor read nothing");
    *elements = counts.elements;
    return ms;
}

} // namespace tarlivo::bench
