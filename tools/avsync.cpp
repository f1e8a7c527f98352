// SPDX-License-Identifier: GPL-2.0-or-later
// Measures picture/sound sync in recorded AVI files of the test card. Every second the card shows
// an all-white frame and starts a 1 kHz beep at the same instant; in the file the flash's time is
// its frame index over the video rate, the beep's the first loud sample of a burst over the
// sample rate. The offset of each event is flash minus beep: positive when the picture comes
// after the sound.
//
//   vistrel_avsync [--plot OUT.png] [--within MIN_MS MAX_MS] [--except FROM_S TO_S] FILE.avi...
//
// --except leaves out of the verdict the events of each file whose flash lies between those
// seconds: across a stall of the program, the frame that stands in for the ones missed may be
// the flash itself, shown early by the length of the gap.
//
// Exit status: 0; 1 when an event lies outside --within or a file has no event; 2 when a file
// cannot be read or the command line is wrong.
#include <turbojpeg.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A frame whose mean brightness reaches this is a flash; the card's bars average far less.
constexpr double kWhiteLevel = 230;
// The beep peaks at 12,000; silence is 0.
constexpr int kLoudLevel = 4000;
// A beep lasts 100 ms, beeps come a second apart: a loud sample this long after the last one
// starts a new beep.
constexpr double kBeepGapSeconds = 0.3;
// A flash pairs with the nearest beep closer than this.
constexpr double kPairingSeconds = 0.5;

struct Fourcc {
    char c[4];
    bool operator==(const char* text) const { return std::memcmp(c, text, 4) == 0; }
};

struct Chunk {
    Fourcc id;
    std::uint32_t size;
    std::streamoff data;  // where the data begins
};

struct VideoFormat {
    int stream = -1;
    double framesPerSecond = 0;
    std::uint32_t compression = 0;  // 0 for uncompressed DIB
};

struct AudioFormat {
    int stream = -1;
    std::uint32_t rate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bits = 0;
};

struct Measurement {
    std::string name;
    VideoFormat video;
    AudioFormat audio;
    std::vector<double> flashes;  // seconds
    std::vector<double> beeps;    // seconds
    std::vector<double> eventTimes;
    std::vector<double> offsetsMs;
};

std::uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
}

std::uint16_t Le16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

class AviReader {
  public:
    explicit AviReader(const std::string& path) : in_(path, std::ios::binary) {
        if (!in_) throw std::runtime_error("cannot open");
        in_.seekg(0, std::ios::end);
        end_ = in_.tellg();
        in_.seekg(0);
    }

    std::optional<Chunk> Next(std::streamoff limit) {
        char header[8];
        const std::streamoff at = in_.tellg();
        if (at + 8 > std::min(limit, end_) || !in_.read(header, 8)) return std::nullopt;
        Chunk chunk{{{header[0], header[1], header[2], header[3]}}, Le32(header + 4), at + 8};
        return chunk;
    }

    // Past the chunk's data and its pad byte.
    void Skip(const Chunk& chunk) { in_.seekg(chunk.data + chunk.size + (chunk.size & 1)); }

    std::string Read(const Chunk& chunk, std::uint32_t most) {
        std::string bytes(std::min(chunk.size, most), '\0');
        in_.seekg(chunk.data);
        in_.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in_.gcount()));
        return bytes;
    }

    Fourcc ListType(const Chunk& chunk) {
        const std::string type = Read(chunk, 4);
        if (type.size() < 4) throw std::runtime_error("truncated list");
        return {{type[0], type[1], type[2], type[3]}};
    }

    std::streamoff End(const Chunk& chunk) const {
        return std::min<std::streamoff>(chunk.data + chunk.size, end_);
    }
    std::streamoff FileEnd() const { return end_; }
    void Seek(std::streamoff at) { in_.seekg(at); }
    void Clear() { in_.clear(); }

  private:
    std::ifstream in_;
    std::streamoff end_ = 0;
};

// The two streams' formats, from the stream headers of 'hdrl'.
class HeaderParser {
  public:
    HeaderParser(AviReader& reader, Measurement& m) : reader_(reader), m_(m) {}

    void Parse(const Chunk& hdrl) {
        reader_.Seek(hdrl.data + 4);
        int stream = 0;
        while (const std::optional<Chunk> chunk = reader_.Next(reader_.End(hdrl))) {
            if (chunk->id == "LIST" && reader_.ListType(*chunk) == "strl")
                StreamList(*chunk, stream++);
            reader_.Skip(*chunk);
        }
    }

  private:
    void StreamList(const Chunk& strl, int stream) {
        std::string strh;
        reader_.Seek(strl.data + 4);
        while (const std::optional<Chunk> chunk = reader_.Next(reader_.End(strl))) {
            if (chunk->id == "strh") strh = reader_.Read(*chunk, 64);
            if (chunk->id == "strf" && strh.size() >= 28)
                Format(strh, reader_.Read(*chunk, 40), stream);
            reader_.Skip(*chunk);
        }
    }

    void Format(const std::string& strh, const std::string& strf, int stream) {
        const std::uint32_t scale = Le32(strh.data() + 20);
        const std::uint32_t rate = Le32(strh.data() + 24);
        if (strh.compare(0, 4, "vids") == 0 && strf.size() >= 20 && scale != 0) {
            m_.video = {stream, static_cast<double>(rate) / scale, Le32(strf.data() + 16)};
        }
        if (strh.compare(0, 4, "auds") == 0 && strf.size() >= 16) {
            m_.audio = {stream, Le32(strf.data() + 4), Le16(strf.data() + 2),
                        Le16(strf.data() + 14)};
        }
    }

    AviReader& reader_;
    Measurement& m_;
};

double MeanGrey(tjhandle decoder, const std::string& jpeg) {
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(jpeg.data()));
    const auto size = static_cast<unsigned long>(jpeg.size());
    if (tjDecompressHeader3(decoder, data, size, &width, &height, &subsampling, &colourspace) !=
        0) {
        return 0;
    }
    // An eighth of the size is all a mean needs, and costs little more than the DC coefficients.
    const int w = (width + 7) / 8, h = (height + 7) / 8;
    std::vector<unsigned char> grey(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    if (tjDecompress2(decoder, data, size, grey.data(), w, w, h, TJPF_GRAY, 0) != 0) return 0;
    return std::accumulate(grey.begin(), grey.end(), 0.0) / static_cast<double>(grey.size());
}

double MeanByte(const std::string& bytes) {
    if (bytes.empty()) return 0;
    double sum = 0;
    for (const char c : bytes) sum += static_cast<unsigned char>(c);
    return sum / static_cast<double>(bytes.size());
}

// Walks 'movi' once: frames are classified as they come, the sound's beep onsets found on the fly.
class MoviScanner {
  public:
    MoviScanner(AviReader& reader, Measurement& m) : reader_(reader), m_(m) {
        decoder_ = tjInitDecompress();
        gap_ = static_cast<std::int64_t>(kBeepGapSeconds * m.audio.rate);
    }
    ~MoviScanner() { tjDestroy(decoder_); }
    MoviScanner(const MoviScanner&) = delete;
    MoviScanner& operator=(const MoviScanner&) = delete;

    void Scan(std::streamoff from, std::streamoff to) {
        reader_.Seek(from);
        while (const std::optional<Chunk> chunk = reader_.Next(to)) {
            if (chunk->id == "LIST") {
                Scan(chunk->data + 4, reader_.End(*chunk));
            } else {
                Data(*chunk);
            }
            reader_.Clear();
            reader_.Skip(*chunk);
        }
    }

  private:
    static int StreamOf(const Fourcc& id) {
        if (id.c[0] < '0' || id.c[0] > '9' || id.c[1] < '0' || id.c[1] > '9') return -1;
        return (id.c[0] - '0') * 10 + (id.c[1] - '0');
    }

    void Data(const Chunk& chunk) {
        const int stream = StreamOf(chunk.id);
        if (stream == m_.video.stream && (chunk.id.c[2] == 'd')) Frame(chunk);
        if (stream == m_.audio.stream && chunk.id.c[2] == 'w')
            Sound(reader_.Read(chunk, chunk.size));
    }

    void Frame(const Chunk& chunk) {
        const std::string bytes = reader_.Read(chunk, chunk.size);
        const double mean = m_.video.compression == 0 ? MeanByte(bytes) : MeanGrey(decoder_, bytes);
        const bool white = mean >= kWhiteLevel;
        if (white && !lastWhite_)
            m_.flashes.push_back(static_cast<double>(frame_) / m_.video.framesPerSecond);
        lastWhite_ = white;
        ++frame_;
    }

    void Sound(const std::string& bytes) {
        const std::size_t block = std::size_t{m_.audio.channels} * 2;
        for (std::size_t at = 0; at + block <= bytes.size(); at += block, ++sample_) {
            int loudest = 0;
            for (std::size_t c = 0; c < block; c += 2) {
                loudest =
                    std::max(loudest, std::abs(static_cast<std::int16_t>(Le16(&bytes[at + c]))));
            }
            if (loudest < kLoudLevel) continue;
            if (lastLoud_ < 0 || sample_ - lastLoud_ > gap_) {
                m_.beeps.push_back(static_cast<double>(sample_) / m_.audio.rate);
            }
            lastLoud_ = sample_;
        }
    }

    AviReader& reader_;
    Measurement& m_;
    tjhandle decoder_;
    std::int64_t gap_;
    std::int64_t frame_ = 0;
    bool lastWhite_ = false;
    std::int64_t sample_ = 0;
    std::int64_t lastLoud_ = -1;
};

void Pair(Measurement& m) {
    for (const double flash : m.flashes) {
        const auto after = std::lower_bound(m.beeps.begin(), m.beeps.end(), flash);
        std::optional<double> nearest;
        if (after != m.beeps.end()) nearest = *after;
        if (after != m.beeps.begin() && (!nearest || flash - *(after - 1) < *nearest - flash)) {
            nearest = *(after - 1);
        }
        if (!nearest || std::abs(flash - *nearest) >= kPairingSeconds) continue;
        m.eventTimes.push_back(flash);
        m.offsetsMs.push_back((flash - *nearest) * 1000);
    }
}

void CheckFormats(const Measurement& m) {
    if (m.video.stream < 0 || m.video.framesPerSecond <= 0)
        throw std::runtime_error("no video stream");
    if (m.audio.stream < 0 || m.audio.rate == 0) throw std::runtime_error("no audio stream");
    if (m.audio.bits != 16 || m.audio.channels == 0)
        throw std::runtime_error("audio is not 16-bit PCM");
}

Measurement Measure(const std::string& path) {
    Measurement m;
    m.name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    AviReader reader(path);
    const std::optional<Chunk> riff = reader.Next(reader.FileEnd());
    if (!riff || !(riff->id == "RIFF") || !(reader.ListType(*riff) == "AVI ")) {
        throw std::runtime_error("not an AVI file");
    }
    reader.Seek(riff->data + 4);
    std::optional<Chunk> movi;
    while (const std::optional<Chunk> chunk = reader.Next(reader.FileEnd())) {
        if (chunk->id == "LIST" && reader.ListType(*chunk) == "hdrl")
            HeaderParser(reader, m).Parse(*chunk);
        if (chunk->id == "LIST" && reader.ListType(*chunk) == "movi") movi = chunk;
        reader.Clear();
        reader.Skip(*chunk);
    }
    CheckFormats(m);
    if (!movi) throw std::runtime_error("no movi list");
    MoviScanner(reader, m).Scan(movi->data + 4, reader.End(*movi));
    Pair(m);
    return m;
}

struct Summary {
    std::size_t count = 0;
    double mean = 0, min = 0, max = 0;
};

Summary Summarise(const std::vector<double>& offsets) {
    if (offsets.empty()) return {};
    const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
    const double sum = std::accumulate(offsets.begin(), offsets.end(), 0.0);
    return {offsets.size(), sum / static_cast<double>(offsets.size()), *low, *high};
}

void PrintSummary(const char* indent, const Summary& s) {
    std::printf("%s%zu events, picture minus sound (ms): mean %+.1f, min %+.1f, max %+.1f\n",
                indent, s.count, s.mean, s.min, s.max);
}

// A beep further than this from the one-second grid the others keep is off it.
constexpr double kOffGridMs = 20;

// The beeps off the one-second grid most of them keep: sound lost and not made up for (or made
// up for wrongly) moves every later beep by what is missing. A beep cut by the file's start or
// by a gap is off it too, its start unheard.
std::size_t BeepsOffGrid(const std::vector<double>& beeps) {
    std::vector<double> phases;  // from the first beep's, in (-0.5, 0.5]
    for (const double beep : beeps) {
        const double since = beep - beeps.front();
        phases.push_back(since - std::round(since));
    }
    std::vector<double> sorted = phases;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const double grid = sorted[sorted.size() / 2];
    return static_cast<std::size_t>(std::count_if(phases.begin(), phases.end(), [&](double p) {
        return std::abs(p - grid) * 1000 > kOffGridMs;
    }));
}

void Print(const Measurement& m) {
    std::printf("%s: %.3g fps video, %u Hz %u ch audio; %zu flashes, %zu beeps\n", m.name.c_str(),
                m.video.framesPerSecond, m.audio.rate, unsigned{m.audio.channels}, m.flashes.size(),
                m.beeps.size());
    PrintSummary("  ", Summarise(m.offsetsMs));
    if (!m.beeps.empty()) std::printf("  %zu beeps off the 1 s grid\n", BeepsOffGrid(m.beeps));
}

// The plot: offsets against the time of their event, files one after the other, with the
// goal's band when one is given.
class Plot {
  public:
    Plot(const std::vector<Measurement>& files, std::optional<std::pair<double, double>> band)
        : files_(files), band_(band), image_(1200, 500, QImage::Format_RGB32) {
        for (const Measurement& m : files) {
            for (const double o : m.offsetsMs) {
                low_ = std::min(low_, o);
                high_ = std::max(high_, o);
            }
            totalSeconds_ += m.eventTimes.empty() ? 0 : m.eventTimes.back() + 1;
        }
        if (band) {
            low_ = std::min(low_, band->first);
            high_ = std::max(high_, band->second);
        }
        low_ = std::floor(low_ / 20 - 1) * 20;
        high_ = std::ceil(high_ / 20 + 1) * 20;
        totalSeconds_ = std::max(totalSeconds_, 1.0);
    }

    bool Save(const std::string& path) {
        image_.fill(Qt::white);
        QPainter painter(&image_);
        Axes(painter);
        Points(painter);
        painter.end();
        return image_.save(QString::fromStdString(path), "PNG");
    }

  private:
    static constexpr int kLeft = 70, kRight = 20, kTop = 40, kBottom = 50;

    double X(double seconds) const {
        return kLeft + seconds / totalSeconds_ * (image_.width() - kLeft - kRight);
    }
    double Y(double ms) const {
        return kTop + (high_ - ms) / (high_ - low_) * (image_.height() - kTop - kBottom);
    }

    void HorizontalLine(QPainter& painter, double ms, const QPen& pen) const {
        painter.setPen(pen);
        painter.drawLine(QPointF(X(0), Y(ms)), QPointF(X(totalSeconds_), Y(ms)));
    }

    void Axes(QPainter& painter) const {
        painter.setPen(Qt::black);
        painter.drawRect(QRectF(QPointF(X(0), Y(high_)), QPointF(X(totalSeconds_), Y(low_))));
        for (double ms = low_; ms <= high_; ms += 20) {
            painter.drawText(QRectF(0, Y(ms) - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(ms));
        }
        for (int i = 0; i <= 10; ++i) {
            const double seconds = totalSeconds_ * i / 10;
            painter.drawText(QRectF(X(seconds) - 40, Y(low_) + 4, 80, 16), Qt::AlignCenter,
                             QString::number(seconds, 'f', 0));
        }
        painter.drawText(
            QRectF(0, image_.height() - 24, image_.width(), 20), Qt::AlignCenter,
            QStringLiteral("time of the event in its file (s), files one after the other"));
        painter.drawText(QRectF(0, 8, image_.width(), 24), Qt::AlignCenter, Title());
        HorizontalLine(painter, 0, QPen(Qt::gray));
        if (band_) {
            for (const double edge : {band_->first, band_->second}) {
                HorizontalLine(painter, edge, QPen(Qt::red, 1, Qt::DashLine));
            }
        }
    }

    QString Title() const {
        std::vector<double> all;
        for (const Measurement& m : files_)
            all.insert(all.end(), m.offsetsMs.begin(), m.offsetsMs.end());
        const Summary s = Summarise(all);
        return QStringLiteral("picture minus sound (ms): %1 events, mean %2, min %3, max %4")
            .arg(s.count)
            .arg(s.mean, 0, 'f', 1)
            .arg(s.min, 0, 'f', 1)
            .arg(s.max, 0, 'f', 1);
    }

    void Points(QPainter& painter) const {
        double start = 0;
        for (const Measurement& m : files_) {
            painter.setPen(QPen(Qt::lightGray, 1, Qt::DotLine));
            if (start > 0)
                painter.drawLine(QPointF(X(start), Y(high_)), QPointF(X(start), Y(low_)));
            painter.setPen(QPen(QColor(0, 0, 160), 4, Qt::SolidLine, Qt::RoundCap));
            for (std::size_t i = 0; i < m.offsetsMs.size(); ++i) {
                painter.drawPoint(QPointF(X(start + m.eventTimes[i]), Y(m.offsetsMs[i])));
            }
            start += m.eventTimes.empty() ? 0 : m.eventTimes.back() + 1;
        }
    }

    const std::vector<Measurement>& files_;
    std::optional<std::pair<double, double>> band_;
    QImage image_;
    double low_ = 0, high_ = 0, totalSeconds_ = 0;
};

struct Options {
    std::string plot;
    std::optional<std::pair<double, double>> within;
    std::optional<std::pair<double, double>> except;
    std::vector<std::string> files;
};

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plot" && i + 1 < argc) {
            options.plot = argv[++i];
        } else if (arg == "--within" && i + 2 < argc) {
            options.within = std::pair{std::atof(argv[i + 1]), std::atof(argv[i + 2])};
            i += 2;
        } else if (arg == "--except" && i + 2 < argc) {
            options.except = std::pair{std::atof(argv[i + 1]), std::atof(argv[i + 2])};
            i += 2;
        } else if (arg.starts_with("--")) {
            return std::nullopt;
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) return std::nullopt;
    return options;
}

// 0 when every file has events and all lie in the band.
int Verdict(const std::vector<Measurement>& files, const Options& options) {
    int status = 0;
    for (const Measurement& m : files) {
        if (m.offsetsMs.empty()) {
            std::printf("%s: no event found\n", m.name.c_str());
            status = 1;
        }
        if (!options.within) continue;
        std::ptrdiff_t outside = 0;
        for (std::size_t i = 0; i < m.offsetsMs.size(); ++i) {
            const double at = m.eventTimes[i], o = m.offsetsMs[i];
            if (options.except && at >= options.except->first && at <= options.except->second)
                continue;
            if (o < options.within->first || o > options.within->second) ++outside;
        }
        if (outside > 0) {
            std::printf("%s: %td events outside %+.0f ... %+.0f ms\n", m.name.c_str(), outside,
                        options.within->first, options.within->second);
            status = 1;
        }
    }
    return status;
}

int Run(const Options& options) {
    std::vector<Measurement> files;
    std::vector<double> all;
    for (const std::string& path : options.files) {
        try {
            files.push_back(Measure(path));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "vistrel_avsync: %s: %s\n", path.c_str(), error.what());
            return 2;
        }
        Print(files.back());
        all.insert(all.end(), files.back().offsetsMs.begin(), files.back().offsetsMs.end());
    }
    if (files.size() > 1) PrintSummary("all files: ", Summarise(all));
    if (!options.plot.empty() && !Plot(files, options.within).Save(options.plot)) {
        std::fprintf(stderr, "vistrel_avsync: cannot write %s\n", options.plot.c_str());
        return 2;
    }
    return Verdict(files, options);
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: vistrel_avsync [--plot OUT.png] [--within MIN_MS MAX_MS] "
                     "[--except FROM_S TO_S] FILE.avi...\n");
        return 2;
    }
    // Text in the plot needs the font database of a GUI application; no screen is needed.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    return Run(*options);
}
