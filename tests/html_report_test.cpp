// decimal-diff's report page: self-contained, well-formed and escaped, and,
// where Debian's chromium is installed, working in a real browser.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "decimal/display.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path example_dir = DECIMAL_EXAMPLE_DIR;
const std::string hostile_name = "odd&<\"'\x01\xff\xc3(</script>name";

class HtmlPage : public testing::Test {
 protected:
  // A copy of the example in scratch/NAME: "fail" has one entry 90 LSB off,
  // "trouble" a bad word at the end, "unknown" an x for its first entry.
  void make(const std::string& name, const std::string& kind = "pass") {
    scratch_.copy_run(example_dir, name);
    std::string results = read_file(example_dir / "results_c.txt");
    if (kind == "fail") results.replace(0, results.find('\n'), "-90");
    if (kind == "trouble") results += "oops\n";
    if (kind == "unknown") results.replace(0, results.find('\n'), "x");
    scratch_.write(name + "/results_c.txt", results);
  }

  // The page of `directories` at 7 LSB, and the call's exit status.
  std::string page_of(const std::vector<std::string>& directories, int status) {
    std::vector<std::string> args = {"-q", "-t7", "--samples=samples.txt", "--html=page.html"};
    args.insert(args.end(), directories.begin(), directories.end());
    const outcome result =
        run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), {.args = args});
    EXPECT_EQ(result.status, status) << result.err;
    return read_file(scratch_.path() / "page.html");
  }

  scratch_dir scratch_;
};

TEST_F(HtmlPage, IsWellFormedSelfContainedAndEscaped) {
  make("pass");
  make("fail", "fail");
  make("trouble", "trouble");
  make(hostile_name, "fail");
  const std::string page = page_of({"pass", "fail", "trouble", hostile_name}, 2);
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_string(page.c_str());
  ASSERT_TRUE(parsed) << parsed.description() << " at byte " << parsed.offset;
  const pugi::xml_node html = document.child("html");
  for (const pugi::xpath_node& found : html.select_nodes("//*")) {
    const pugi::xml_node element = found.node();
    const std::string name = element.name();
    EXPECT_TRUE(name != "link" && name != "img" && name != "iframe" && name != "object" &&
                name != "embed" && name != "base")
        << name;
    EXPECT_FALSE(element.attribute("src")) << name;
    if (const pugi::xml_attribute href = element.attribute("href")) {
      EXPECT_TRUE(std::string(href.value()).starts_with("#")) << href.value();
    }
  }
  for (const pugi::xpath_node& style : html.select_nodes("//style")) {
    const std::string text = style.node().child_value();
    EXPECT_EQ(text.find("url("), std::string::npos);
    EXPECT_EQ(text.find("@import"), std::string::npos);
  }
  // Scripts and style sheets run by their hashes only: an injected one would not.
  const std::string policy = html.select_node("//meta[@http-equiv='Content-Security-Policy']")
                                 .node()
                                 .attribute("content")
                                 .value();
  EXPECT_TRUE(policy.starts_with("default-src 'none'; script-src 'sha256-")) << policy;
  EXPECT_EQ(policy.find("script-src 'unsafe-inline'"), std::string::npos) << policy;
  EXPECT_NE(policy.find("style-src-elem 'sha256-"), std::string::npos) << policy;
  EXPECT_EQ(html.select_nodes("//script[not(@type)]").size(), 2U);
  // One row per directory, worst first, then by name as the terminal shows it.
  std::vector<std::string> names;
  std::vector<std::string> verdicts;
  for (const pugi::xpath_node& row : html.select_nodes("//table[@id='directories']/tbody/tr")) {
    names.emplace_back(row.node().child("td").text().get());
    if (names.back().empty()) names.back() = row.node().child("td").child("a").text().get();
    verdicts.emplace_back(row.node().attribute("data-verdict").value());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"trouble", "fail", decimal::shown_name(hostile_name),
                                             "pass"}));
  EXPECT_EQ(verdicts, (std::vector<std::string>{"trouble", "fail", "fail", "pass"}));
  // A section for each that did not pass, a chart for each failure.
  EXPECT_EQ(html.select_nodes("//section").size(), 3U);
  EXPECT_EQ(html.select_nodes("//div[@class='chart']").size(), 2U);
  EXPECT_TRUE(html.select_node("//td[@class='message']"));
  // The figures are there without any script, the unknown count among them.
  EXPECT_TRUE(
      html.select_node("//p[@class='totals'][text()='total: 1 passed, 2 failed, 1 in "
                       "trouble, of 4 directories']"));
  EXPECT_TRUE(html.select_node("//th[text()='unknown']"));
  EXPECT_TRUE(html.select_node("//section/p[contains(., 'histogram: -90:1 -7:2 -6:24')]"));
  // The table opens on those that did not pass, sorted by verdict.
  EXPECT_STREQ(html.select_node("//option[@selected]").node().attribute("value").value(),
               "not-pass");
  EXPECT_STREQ(html.select_node("//th[@aria-sort]").node().text().get(), "verdict");
  // When, where and how it was made.
  const std::string origin = html.select_node("//p[@class='origin']").node().text().get();
  EXPECT_TRUE(origin.starts_with("made ")) << origin;
  EXPECT_NE(origin.find(" on "), std::string::npos) << origin;
  EXPECT_EQ(html.select_node("//p[@class='origin']/code").node().text().get(),
            std::string("decimal-diff -q -t7 --samples=samples.txt --html=page.html"));
  // The overall verdict first, in words: trouble outweighs failures.
  EXPECT_STREQ(html.select_node("//header/p[1]").node().attribute("class").value(),
               "banner trouble");
  EXPECT_STREQ(html.select_node("//header/p[1]/font").node().text().get(),
               "TROUBLE: 1 of 4 directories in trouble, 2 failed");
  // Without scripts or style sheets (a policy that blocks both), each chart
  // is a picture, and the verdicts keep their words and colours.
  for (const pugi::xpath_node& chart : html.select_nodes("//div[@class='chart']")) {
    const pugi::xml_node svg = chart.node().child("svg");
    ASSERT_TRUE(svg) << "no picture";
    EXPECT_TRUE(svg.select_node(".//line[@stroke='#d62728'][@stroke-dasharray]"));
    EXPECT_TRUE(std::string(svg.child("title").text().get()).ends_with(": 1 entry beyond 7 LSB"));
  }
  EXPECT_STREQ(html.select_node("//header/p[1]/font").node().attribute("color").value(), "#6a1b9a");
  EXPECT_EQ(
      html.select_nodes("//td[@class='verdict']/font[@color='#b71c1c'][text()='fail']").size(), 2U);
  EXPECT_EQ(
      html.select_nodes("//td[@class='verdict']/font[@color='#6a1b9a'][text()='TROUBLE']").size(),
      1U);
  EXPECT_LT(page.size(), std::size_t{300 + 2 * 200} << 10);
}

// A farm where most fail: every directory has its row, only the first that
// did not pass in the page's order have sections, and the page says so.
TEST_F(HtmlPage, KeepsSectionsForTheFirstThatDidNotPass) {
  std::vector<std::string> directories;
  for (int i = 0; i < 103; ++i) {
    const std::string name = "run" + std::to_string(1000 - i);  // given last to first
    scratch_.write(name + "/results_m.txt", "1\n2\n");
    scratch_.write(name + "/results_c.txt", i == 50 ? "1\n2\n" : "1\n3\n");
    directories.push_back(name);
  }
  scratch_.write("broken/results_m.txt", "1\n");
  scratch_.write("broken/results_c.txt", "1\n2\n");
  directories.push_back("broken");
  std::vector<std::string> args = {"-q", "--samples=none", "--html=page.html"};
  args.insert(args.end(), directories.begin(), directories.end());
  const outcome result =
      run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), {.args = args});
  ASSERT_EQ(result.status, 2) << result.err;
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file((scratch_.path() / "page.html").c_str()));
  EXPECT_EQ(document.select_nodes("//table[@id='directories']/tbody/tr").size(), 104U);
  const pugi::xpath_node_set sections = document.select_nodes("//section");
  ASSERT_EQ(sections.size(), 100U);
  // Trouble first, then the failures by name: run1000, run898 to run996
  // (run950 passed); run997 to run999 are rows only.
  EXPECT_STREQ(sections[0].node().child("h2").text().get(), "broken");
  EXPECT_STREQ(sections[1].node().child("h2").text().get(), "run1000");
  EXPECT_STREQ(sections[2].node().child("h2").text().get(), "run898");
  EXPECT_STREQ(sections[99].node().child("h2").text().get(), "run996");
  EXPECT_EQ(document.select_nodes("//tbody/tr/td/a").size(), 100U);
  EXPECT_FALSE(document.select_node("//tbody/tr/td/a[text()='run997']"));
  EXPECT_TRUE(document.select_node("//tbody/tr/td[text()='run997']"));
  EXPECT_NE(std::string(document.select_node("//p[@class='left-out']").node().text().get())
                .find("3 more were left out"),
            std::string::npos);
}

// A failure that a latency explains says so, with the option that shows
// it; one that no delay explains says nothing of the kind.
TEST_F(HtmlPage, SaysWhenADelayWouldExplainAFailure) {
  std::string model;
  std::string late = "0\n0\n0\n";
  for (int i = 0; i < 300; ++i) {
    const std::string value = std::to_string((i * 37) % 200 - 100) + "\n";
    model += value;
    if (i < 297) late += value;
  }
  scratch_.write("late/results_m.txt", model);
  scratch_.write("late/results_c.txt", late);
  make("fail", "fail");
  // The comparison ends before the entries the delay leaves without a partner.
  const outcome result = run_program(
      DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(),
      {.args = {"-q", "-t7", "-n", "200", "--samples=none", "--html=page.html", "late", "fail"}});
  ASSERT_EQ(result.status, 1) << result.err;
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file((scratch_.path() / "page.html").c_str()));
  const pugi::xpath_node_set hints = document.select_nodes("//section//strong");
  ASSERT_EQ(hints.size(), 1U);
  EXPECT_STREQ(hints[0].node().text().get(), "a delay of 3 would explain it (--delay=3)");
  EXPECT_STREQ(hints[0].node().parent().parent().child("h2").text().get(), "late");
}

// Files that can be read only once (FIFOs from a bench) are never read a
// second time to look for a delay: the call ends, with its verdict.
TEST_F(HtmlPage, ReadsAFifoOnlyOnce) {
  std::filesystem::create_directories(scratch_.path() / "fifo");
  const std::array<std::pair<std::string, std::string>, 2> files = {
      std::pair<std::string, std::string>{"results_m.txt", "1\n2\n3\n"},
      {"results_c.txt", "0\n1\n2\n"}};
  std::vector<std::thread> writers;
  for (const auto& file : files) {
    ASSERT_EQ(::mkfifo((scratch_.path() / "fifo" / file.first).c_str(), 0600), 0);
  }
  for (const auto& file : files) {
    const std::string path = (scratch_.path() / "fifo" / file.first).string();
    const std::string text = file.second;
    writers.emplace_back([path, text] {
      if (FILE* out = std::fopen(path.c_str(), "w")) {  // waits for the reader
        std::fputs(text.c_str(), out);
        std::fclose(out);
      }
    });
  }
  const outcome result = run_program(
      "/usr/bin/timeout", scratch_.path(), scratch_.path(),
      {.args = {"10", DECIMAL_DIFF_BINARY, "-q", "--samples=none", "--html=page.html", "fifo"}});
  EXPECT_EQ(result.status, 1) << "124 is timeout's: the call hung";
  for (std::thread& writer : writers) writer.join();
}

// Debian's chromium, if installed.
std::string chromium() {
  std::string path;
  if (FILE* found = ::popen("command -v chromium 2>/dev/null", "r")) {
    std::array<char, 4096> line{};
    if (std::fgets(line.data(), line.size(), found) != nullptr) path = line.data();
    ::pclose(found);
  }
  while (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

// Runs in the page before anything of its own: notes every error and every
// request, then, once the page's scripts have run, works its controls as a
// user would and writes what it saw into the page, which chromium then dumps.
constexpr const char* page_probe = R"(<script>
(function () {
  const errors = [];
  window.addEventListener("error", function (e) { errors.push("error: " + e.message); });
  document.addEventListener("securitypolicyviolation", function (e) {
    errors.push("blocked: " + e.blockedURI);
  });
  // The browser tells the page what came into view when it draws a frame,
  // which headless chromium does when it likes: here the probe tells it, at
  // load and after scrolling, from where each observed element is.
  const observed = [];
  let inView = null;
  window.IntersectionObserver = function (callback) {
    inView = callback;
    this.observe = function (target) { observed.push(target); };
    this.unobserve = function (target) { observed.splice(observed.indexOf(target), 1); };
  };
  const frame = function () {
    inView(observed.slice().map(function (target) {
      const box = target.getBoundingClientRect();
      return {target: target, isIntersecting: box.top < window.innerHeight && box.bottom > 0};
    }));
  };
  window.addEventListener("load", function () {
    const seen = {};
    try {
      const rows = Array.from(document.querySelectorAll("#directories tbody tr"));
      const shown = function (r) { return getComputedStyle(r).display !== "none"; };
      seen.rows = rows.map(function (r) { return r.dataset.verdict; });
      seen.shown_at_first = rows.filter(shown).map(function (r) {
        return r.dataset.verdict;
      });
      const charts = Array.from(document.querySelectorAll("div.chart"));
      const drawn = function () {
        return charts.filter(function (c) { return c.querySelector("canvas"); }).length;
      };
      // Only what is on screen is drawn before scrolling.
      frame();
      seen.drawn_before_scrolling = drawn();
      seen.on_screen = charts.filter(function (c) {
        const box = c.getBoundingClientRect();
        return box.top < window.innerHeight && box.bottom > 0;
      }).length;
      const filter = document.getElementById("filter");
      filter.value = "fail";
      filter.dispatchEvent(new Event("change"));
      seen.shown_when_failed = rows.filter(shown).map(function (r) {
        return r.dataset.verdict;
      });
      // Zoomed near the long run's first fault, the entries there are whole:
      // hover tells one entry, not a column's range.
      const long = charts.find(function (c) {
        return c.closest("section").querySelector("h2").textContent === "long";
      });
      long.scrollIntoView();
      frame();
      const longCanvases = long.querySelectorAll("canvas");
      const longTop = longCanvases[longCanvases.length - 1];
      const tickAt = function (text) {
        const tick = Array.from(long.querySelectorAll(".dygraph-axis-label-x")).find(function (l) {
          return l.textContent === text;
        }).getBoundingClientRect();
        return tick.left + tick.width / 2;
      };
      let x0 = tickAt("200k");
      let perEntry = (tickAt("400k") - x0) / 200000;
      let atIndex = function (i) { return x0 + (i - 200000) * perEntry; };
      const longMouse = function (type, x) {
        const box = longTop.getBoundingClientRect();
        longTop.dispatchEvent(new MouseEvent(type, {bubbles: true, cancelable: true, view: window,
          clientX: x, clientY: box.top + box.height / 2, button: 0}));
      };
      longMouse("mousedown", atIndex(200));
      longMouse("mousemove", atIndex(8000));
      longMouse("mousemove", atIndex(16000));
      longMouse("mouseup", atIndex(16000));
      x0 = tickAt("2k");
      perEntry = (tickAt("4k") - x0) / 2000;
      atIndex = function (i) { return x0 + (i - 2000) * perEntry; };
      longMouse("mousemove", atIndex(999));
      seen.zoomed_hover = long.nextElementSibling.textContent;
      long.dispatchEvent(new MouseEvent("dblclick", {bubbles: true}));
      // Numbers sort as numbers, the trouble's empty cell last, and the column says so.
      const compared = document.querySelectorAll("#directories thead th")[3];
      compared.click();
      seen.compared_ascending = Array.from(document.querySelectorAll("#directories tbody tr"))
          .map(function (r) { return r.cells[3].textContent; });
      seen.compared_sort = compared.getAttribute("aria-sort");
      // Scroll to the longest run's chart and drag across its middle.
      const chart = charts.find(function (c) {
        return c.closest("section").querySelector("h2").textContent === "long";
      });
      chart.scrollIntoView();
      frame();
      seen.drawn_after_scrolling = drawn();
      const ticks = function () {
        return Array.from(chart.querySelectorAll(".dygraph-axis-label-x")).map(function (l) {
          return l.textContent;
        }).join(" ");
      };
      seen.ticks = ticks();
      const canvases = chart.querySelectorAll("canvas");
      const canvas = canvases[canvases.length - 1];
      const box = canvas.getBoundingClientRect();
      const mouse = function (type, x) {
        canvas.dispatchEvent(new MouseEvent(type, {bubbles: true, cancelable: true, view: window,
          clientX: box.left + x * box.width, clientY: box.top + box.height / 2, button: 0}));
      };
      mouse("mousedown", 0.3);
      mouse("mousemove", 0.4);
      mouse("mousemove", 0.5);
      mouse("mouseup", 0.5);
      seen.zoomed_ticks = ticks();
      // Hover over the first entry of the failed run: its values as the text has them.
      const failed = charts.find(function (c) {
        return c.closest("section").querySelector("h2").textContent === "fail";
      });
      failed.scrollIntoView();
      frame();
      const failedCanvases = failed.querySelectorAll("canvas");
      const top = failedCanvases[failedCanvases.length - 1];
      const topBox = top.getBoundingClientRect();
      top.dispatchEvent(new MouseEvent("mousemove", {bubbles: true, cancelable: true,
        view: window, clientX: topBox.left + 1, clientY: topBox.top + topBox.height / 2}));
      seen.hover = failed.nextElementSibling.textContent;  // the legend, after the chart
      // Every chart draws, the one with an unknown entry too.
      inView(observed.slice().map(function (target) {
        return {target: target, isIntersecting: true};
      }));
      seen.drawn_at_last = drawn();
      seen.requests = performance.getEntriesByType("resource").map(function (r) { return r.name; });
    } catch (e) {
      errors.push("probe: " + e);
    }
    seen.errors = errors;
    const out = document.createElement("pre");
    out.id = "probe";
    out.textContent = JSON.stringify(seen);
    document.body.appendChild(out);
  });
})();
</script>)";

TEST_F(HtmlPage, WorksInARealBrowser) {
  const std::string browser = chromium();
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed (Debian: chromium)";
  make("pass");
  make("fail", "fail");
  make("trouble", "trouble");
  make(hostile_name, "fail");
  make("unknown", "unknown");
  // A run of 10^6 entries, every 1000th beyond the tolerance.
  std::string model;
  std::string implementation;
  for (int i = 0; i < 1'000'000; ++i) {
    const int value = (i * 37) % 4000 - 2000;
    model += std::to_string(value) + '\n';
    implementation += std::to_string(value + (i % 1000 == 999 ? 9 : i % 3 - 1)) + '\n';
  }
  scratch_.write("long/results_m.txt", model);
  scratch_.write("long/results_c.txt", implementation);
  scratch_.write("long/samples.txt", model);
  const std::string page = page_of({"pass", "fail", "trouble", hostile_name, "long", "unknown"}, 2);
  EXPECT_LT(page.size(), std::size_t{300 + 3 * 200} << 10);
  const std::size_t head = page.find("<head>") + 6;
  scratch_.write("probed.html", page.substr(0, head) + page_probe + page.substr(head));
  // Nothing may leave the machine: no background traffic, and every request
  // the page might make sent to a closed port.
  const outcome run =
      run_program("/usr/bin/timeout", scratch_.path(), scratch_.path(),
                  {.args = {"60", browser, "--headless", "--no-sandbox", "--disable-gpu",
                            "--disable-background-networking", "--disable-component-update",
                            "--disable-sync", "--no-first-run", "--proxy-server=127.0.0.1:9",
                            "--host-resolver-rules=MAP * ~NOTFOUND",
                            "--user-data-dir=" + (scratch_.path() / "profile").string(),
                            "--enable-logging=stderr", "--v=0", "--virtual-time-budget=10000",
                            "--dump-dom", "file://" + (scratch_.path() / "probed.html").string()}});
  ASSERT_EQ(run.status, 0) << run.err;
  // The console: nothing logged, no error.
  EXPECT_EQ(run.err.find(":CONSOLE"), std::string::npos) << run.err;
  const std::size_t from = run.out.find("<pre id=\"probe\">");
  ASSERT_NE(from, std::string::npos) << "the probe wrote nothing";
  const std::size_t to = run.out.find("</pre>", from);
  std::string text = run.out.substr(from + 16, to - from - 16);
  for (const auto& [entity, character] : {std::pair<std::string, std::string>{"&quot;", "\""},
                                          {"&lt;", "<"},
                                          {"&gt;", ">"},
                                          {"&amp;", "&"}}) {
    for (std::size_t at; (at = text.find(entity)) != std::string::npos;) {
      text.replace(at, entity.size(), character);
    }
  }
  const nlohmann::json seen = nlohmann::json::parse(text);
  EXPECT_EQ(seen["errors"], nlohmann::json::array());
  EXPECT_EQ(seen["requests"], nlohmann::json::array());
  EXPECT_EQ(seen["rows"], nlohmann::json({"trouble", "fail", "fail", "fail", "fail", "pass"}));
  EXPECT_EQ(seen["shown_at_first"], nlohmann::json({"trouble", "fail", "fail", "fail", "fail"}));
  EXPECT_EQ(seen["drawn_before_scrolling"], seen["on_screen"]);
  EXPECT_LT(seen["on_screen"], 3);
  EXPECT_GT(seen["drawn_after_scrolling"], seen["drawn_before_scrolling"]);
  EXPECT_EQ(seen["shown_when_failed"], nlohmann::json({"fail", "fail", "fail", "fail"}));
  EXPECT_EQ(seen["compared_ascending"],
            nlohmann::json({"201", "201", "201", "201", "1000000", ""}));
  EXPECT_EQ(seen["compared_sort"], "ascending");
  EXPECT_NE(seen["zoomed_ticks"], seen["ticks"]);
  EXPECT_EQ(seen["hover"],
            "index 0: model 0.000000 (0), implementation -0.043945 (-90), difference -90 LSB");
  EXPECT_EQ(seen["drawn_at_last"], 4);
  // Near index 999, a fault of 9 LSB: one entry on hover, as the text shows it.
  EXPECT_TRUE(seen["zoomed_hover"].get<std::string>().starts_with("index 99"))
      << seen["zoomed_hover"];
}

}  // namespace

namespace {

// Serves one page on the loopback, once per request, with the
// Content-Security-Policy that Jenkins gives archived HTML.
class jenkins_like_server {
 public:
  explicit jenkins_like_server(std::string page) : page_(std::move(page)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    serving_ = std::thread([this] {
      for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0;) {
        std::array<char, 4096> request{};
        [[maybe_unused]] const ssize_t read = ::recv(client, request.data(), request.size(), 0);
        const std::string reply =
            "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
            "Content-Security-Policy: sandbox; default-src 'none'; img-src 'self'; style-src "
            "'self';\r\nContent-Length: " +
            std::to_string(page_.size()) + "\r\n\r\n" + page_;
        for (std::size_t sent = 0; sent < reply.size();) {
          const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<std::size_t>(n);
        }
        // Closed with a request still unread, the connection would be reset
        // under the reply: the rest is read first, for a second at most.
        ::shutdown(client, SHUT_WR);
        const timeval second{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
        while (::recv(client, request.data(), request.size(), 0) > 0) {
        }
        ::close(client);
      }
    });
  }
  jenkins_like_server(const jenkins_like_server&) = delete;
  jenkins_like_server& operator=(const jenkins_like_server&) = delete;
  ~jenkins_like_server() {
    ::shutdown(listener_, SHUT_RDWR);
    if (serving_.joinable()) serving_.join();
    if (listener_ >= 0) ::close(listener_);
  }

  int port() const { return port_; }

 private:
  std::string page_;
  int listener_ = -1;
  int port_ = 0;
  std::thread serving_;
};

}  // namespace

// Served as Jenkins serves archived HTML, scripts and style sheets blocked,
// the page still shows every chart as a picture and each verdict in its
// colour and word: nothing of it depended on what the policy blocks.
TEST_F(HtmlPage, ReadsUnderJenkinsPolicy) {
  const std::string browser = chromium();
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed (Debian: chromium)";
  make("pass");
  make("fail", "fail");
  make("trouble", "trouble");
  const std::string page = page_of({"pass", "fail", "trouble"}, 2);
  const jenkins_like_server server(page);
  ASSERT_NE(server.port(), 0);
  // Chromium's --dump-dom reads the page through a script of its own, which
  // a page's policy does not stop.
  const outcome run = run_program(
      "/usr/bin/timeout", scratch_.path(), scratch_.path(),
      {.args = {"60", browser, "--headless", "--no-sandbox", "--disable-gpu",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--no-first-run", "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                "--user-data-dir=" + (scratch_.path() / "profile").string(),
                "--virtual-time-budget=3000", "--dump-dom",
                "http://127.0.0.1:" + std::to_string(server.port()) + "/page.html"}});
  ASSERT_EQ(run.status, 0) << run.err;
  // The scripts did not run (they would mark the page), and the picture stands.
  EXPECT_EQ(run.out.find("class=\"scripted\""), std::string::npos);
  const std::size_t chart = run.out.find("<div class=\"chart\"");
  ASSERT_NE(chart, std::string::npos);
  EXPECT_EQ(run.out.find("<svg", chart), run.out.find('>', chart) + 1);
  EXPECT_NE(run.out.find("<font color=\"#b71c1c\">fail</font>"), std::string::npos);
  EXPECT_NE(run.out.find("<font color=\"#6a1b9a\">TROUBLE</font>"), std::string::npos);
}
