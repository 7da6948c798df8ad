#include "watch/chart.h"

#include <fcntl.h>
#include <plplot.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace watch {

namespace {

// The last chunk of every complete PNG file.
constexpr std::string_view kPngEnd{"\0\0\0\0IEND\xAE\x42\x60\x82", 12};
// pngcairo draws at 90 dots per inch; PLplot sizes text in millimetres.
constexpr double kMillimetresPerPixel = 25.4 / 90.0;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsPng(const std::filesystem::path& path) {
  return Lower(path.extension().string()) == ".png";
}

bool HasDevice(const char* wanted) {
  std::array<const char*, 128> menu{}, names{};
  int n = static_cast<int>(names.size());
  const char** m = menu.data();
  const char** d = names.data();
  plgDevs(&m, &d, &n);
  for (int i = 0; i < n; ++i) {
    if (d[i] != nullptr && std::string_view(d[i]) == wanted) {
      return true;
    }
  }
  return false;
}

std::string Hex(Rgb c) {
  return fmt::format("#{:02x}{:02x}{:02x}", c.r, c.g, c.b);
}

std::string Points(const std::vector<Point>& points) {
  std::string out;
  for (const auto& p : points) {
    out += fmt::format("{}{:.1f},{:.1f}", out.empty() ? "" : " ", p.x, p.y);
  }
  return out;
}

std::string XmlText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One element a line and the text as it is, so that the file stays small
// and a server's name can be found in it with grep.
std::string SvgText(const Scene& scene) {
  std::string out = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" "
      "viewBox=\"0 0 {0} {1}\" font-family=\"sans-serif\">\n"
      "<rect width=\"{0}\" height=\"{1}\" fill=\"{2}\"/>\n",
      scene.width, scene.height, Hex(scene.background));
  const auto polygons = [&](const std::vector<Polygon>& list) {
    for (const auto& p : list) {
      out +=
          fmt::format("<polygon points=\"{}\" fill=\"{}\"{}/>\n", Points(p.points), Hex(p.colour),
                      p.opacity < 1 ? fmt::format(" fill-opacity=\"{:.2f}\"", p.opacity) : "");
    }
  };
  polygons(scene.areas);
  for (const auto& l : scene.lines) {
    out +=
        fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"{}\" stroke-width=\"{}\"/>\n",
                    Points(l.points), Hex(l.colour), l.width);
  }
  polygons(scene.shapes);
  for (const auto& t : scene.labels) {
    static constexpr std::array<const char*, 3> kAnchors = {"start", "middle", "end"};
    out += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" font-size=\"{}\" fill=\"{}\" text-anchor=\"{}\" "
        "dominant-baseline=\"central\"{}>{}</text>\n",
        t.at.x, t.at.y, t.size, Hex(t.colour), kAnchors[static_cast<std::size_t>(t.anchor)],
        t.vertical ? fmt::format(" transform=\"rotate(-90 {:.1f} {:.1f})\"", t.at.x, t.at.y) : "",
        XmlText(t.text));
  }
  out += "</svg>\n";
  return out;
}

void Pen(Rgb c, double opacity) {
  plscol0a(2, c.r, c.g, c.b, opacity);
  plcol0(2);
}

// The scene through PLplot's cairo device, in a window of the scene's
// pixels with y growing downwards. PLplot closes `file`.
void RenderPng(const Scene& scene, FILE* file) {
  plsdev("pngcairo");
  plsfile(file);
  plspage(0, 0, scene.width, scene.height, 0, 0);
  plscolbg(scene.background.r, scene.background.g, scene.background.b);
  plinit();
  pladv(0);
  plvpor(0, 1, 0, 1);
  plwind(0, scene.width, scene.height, 0);
  std::vector<PLFLT> xs, ys;
  const auto load = [&](const std::vector<Point>& points) {
    xs.clear();
    ys.clear();
    for (const auto& p : points) {
      xs.push_back(p.x);
      ys.push_back(p.y);
    }
    return static_cast<PLINT>(points.size());
  };
  const auto polygons = [&](const std::vector<Polygon>& list) {
    for (const auto& p : list) {
      Pen(p.colour, p.opacity);
      const PLINT n = load(p.points);
      plfill(n, xs.data(), ys.data());
    }
  };
  polygons(scene.areas);
  for (const auto& l : scene.lines) {
    Pen(l.colour, 1);
    plwidth(l.width);
    const PLINT n = load(l.points);
    plline(n, xs.data(), ys.data());
  }
  polygons(scene.shapes);
  for (const auto& t : scene.labels) {
    Pen(t.colour, 1);
    plschr(t.size * kMillimetresPerPixel * 0.75, 1.0);
    const double just = t.anchor == Label::Anchor::kStart    ? 0
                        : t.anchor == Label::Anchor::kMiddle ? 0.5
                                                             : 1;
    plptex(t.at.x, t.at.y, t.vertical ? 0 : 1, t.vertical ? -1 : 0, just, t.text.c_str());
  }
  plend();
}

[[noreturn]] void CannotWrite(const std::filesystem::path& path, std::string_view why) {
  throw std::runtime_error(fmt::format("cannot write the chart {}: {}", path.string(), why));
}

// A new file beside `path`, readable as a file created the usual way would
// be. Its name holds no '%': PLplot would read one as a file family.
struct Scratch {
  std::string name;
  int fd = -1;
};

Scratch MakeScratch(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  const std::string ext = Lower(path.extension().string());
  Scratch s{(folder / ".quillmoor-watch-XXXXXX").string() + ext, -1};
  s.fd = mkostemps(s.name.data(), static_cast<int>(ext.size()), O_CLOEXEC);
  if (s.fd < 0) {
    CannotWrite(
        path, fmt::format("cannot create a file in {}: {}", folder.string(), std::strerror(errno)));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(s.fd, 0666 & ~mask);
  return s;
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno != EINTR) {
      throw std::runtime_error(std::strerror(errno));
    }
    text.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
}

// PLplot writes through stdio and never says that a write failed: the file
// must end as every PNG file ends.
void CheckPngEnd(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    throw std::runtime_error(std::strerror(errno));
  }
  std::string tail(kPngEnd.size(), '\0');
  const auto at = static_cast<off_t>(st.st_size) - static_cast<off_t>(tail.size());
  if (at < 0 || ::pread(fd, tail.data(), tail.size(), at) != static_cast<ssize_t>(tail.size()) ||
      tail != kPngEnd) {
    throw std::runtime_error("the file came out incomplete (a full disk or a size limit?)");
  }
}

}  // namespace

void CheckChartPath(const std::filesystem::path& path) {
  const std::string ext = Lower(path.extension().string());
  if (ext != ".svg" && ext != ".png") {
    throw std::invalid_argument(
        fmt::format("chart file '{}' must end in .svg or .png", path.string()));
  }
}

void CheckChartFolder(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    CannotWrite(path, "it is a folder");
  }
  const Scratch s = MakeScratch(path);
  ::close(s.fd);
  ::unlink(s.name.c_str());
}

void DrawChart(const std::filesystem::path& path, const std::vector<Sample>& samples,
               const std::vector<LogMarks>& marks) {
  CheckChartPath(path);
  const bool png = IsPng(path);
  if (png && !HasDevice("pngcairo")) {
    throw std::runtime_error("PLplot has no 'pngcairo' device: install plplot-driver-cairo");
  }
  const Scene scene = LayoutChart(samples, marks);
  Scratch s = MakeScratch(path);
  try {
    if (png) {
      // PLplot closes the stream it is given; the file stays open here.
      const int copy = ::dup(s.fd);
      FILE* file = copy < 0 ? nullptr : ::fdopen(copy, "wb");
      if (file == nullptr) {
        const int error = errno;
        if (copy >= 0) {
          ::close(copy);
        }
        throw std::runtime_error(std::strerror(error));
      }
      RenderPng(scene, file);
      CheckPngEnd(s.fd);
    } else {
      WriteAll(s.fd, SvgText(scene));
    }
    if (::fsync(s.fd) != 0) {
      throw std::runtime_error(std::strerror(errno));
    }
    const int fd = s.fd;
    s.fd = -1;
    if (::close(fd) != 0) {
      throw std::runtime_error(std::strerror(errno));
    }
    if (::rename(s.name.c_str(), path.c_str()) != 0) {
      throw std::runtime_error(std::strerror(errno));
    }
  } catch (const std::runtime_error& e) {
    if (s.fd >= 0) {
      ::close(s.fd);
    }
    ::unlink(s.name.c_str());
    CannotWrite(path, e.what());
  }
}

}  // namespace watch
