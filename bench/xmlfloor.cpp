#include "xmlfloor.h"

#include <QElapsedTimer>
#include <QFile>

#include <libxml/parser.h>
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

} // namespace

double xmlStreamRead(const QString &path, long long *elements)
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
