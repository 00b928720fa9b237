// A small deterministic mutation fuzzer: each fuzz target is this driver
// linked with one entry function (fuzzentry.h). It runs every seed of the
// target's corpus folder, then seeds changed by a seeded pseudo-random
// generator (bit flips, byte changes, inserts, deletions, copies, words and
// numbers taken from the seeds, splices of two seeds) until its time or run
// budget is spent, and prints its counts. Faults are found by the sanitizers,
// which end the process; the driver then saves the input that caused them.
// An input that runs too long or grows the process without bound ends the
// run the same way.
//
//   fuzz_NAME [--seconds S] [--runs N] [--seed N] [--max-len N]
//             [--input-timeout S] [--rss-limit-mb N] CORPUS_FOLDER
//   fuzz_NAME FILE...       runs each file once (a saved input, a seed)
#include "fuzz/fuzzentry.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define ZEMBO_FUZZ_DEATH_CALLBACK 1
#endif

namespace fs = std::filesystem;

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

// UBSan keeps a runtime of its own that never calls the death callback: its
// faults abort instead, and the abort handler saves the input.
extern "C" const char* __ubsan_default_options()
{
    return "abort_on_error=1:halt_on_error=1:print_stacktrace=1";
}

namespace {

struct TOptions {
    double Seconds = 3;
    long long Runs = -1; // no limit
    unsigned long long Seed = 1;
    std::size_t MaxLen = 4096;
    int InputTimeout = 10;
    long RssLimitMb = 2048;
    std::vector<std::string> Paths;
};

// What the fault handlers report; plain data, read from signal handlers.
const char* GTarget = "fuzz";
std::string GArtifact;
const std::string* GCurrent = nullptr;
volatile std::sig_atomic_t GRuns = 0;
int GInputTimeout = 10;
long GRssLimitPages = 0;

// Output for signal handlers: write(2) only.
void Say(const char* text)
{
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void SayNumber(long long n)
{
    char buf[24];
    int i = sizeof buf;
    buf[--i] = 0;
    do {
        buf[--i] = char('0' + n % 10);
        n /= 10;
    } while (n > 0 && i > 0);
    Say(buf + i);
}

// Saves the input being run and shows its start, escaped.
void SaveCurrentInput()
{
    static volatile std::sig_atomic_t saved = 0;
    if (!GCurrent || saved)
        return;
    saved = 1;
    const std::string& input = *GCurrent;
    const int fd = open(GArtifact.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        const ssize_t ignored = write(fd, input.data(), input.size());
        (void)ignored;
        close(fd);
    }
    Say("\nfuzz ");
    Say(GTarget);
    Say(": the failing input (");
    SayNumber((long long)input.size());
    Say(" bytes) is saved in ");
    Say(GArtifact.c_str());
    Say("\ninput: \"");
    char esc[5] = "\\x00";
    for (std::size_t i = 0; i < input.size() && i < 400; ++i) {
        const unsigned char c = (unsigned char)input[i];
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            const char one[2] = {char(c), 0};
            Say(one);
        } else if (c == '\n') {
            Say("\\n");
        } else {
            esc[2] = "0123456789abcdef"[c >> 4];
            esc[3] = "0123456789abcdef"[c & 15];
            Say(esc);
        }
    }
    Say(input.size() > 400 ? "\"...\n" : "\"\n");
}

void OnAbort(int sig)
{
    SaveCurrentInput();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void OnTerminate()
{
    Say("\nfuzz: an exception the entry does not expect");
    if (const std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            Say(": ");
            Say(ex.what());
        } catch (...) {
        }
    }
    SaveCurrentInput();
    std::abort();
}

long ResidentPages()
{
    const int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0)
        return 0;
    char buf[128];
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return 0;
    buf[n] = 0;
    const char* p = std::strchr(buf, ' '); // the second field: resident pages
    if (!p)
        return 0;
    long pages = 0;
    for (++p; *p >= '0' && *p <= '9'; ++p)
        pages = pages * 10 + (*p - '0');
    return pages;
}

// Once a second: an input that has run for the time-out, or a process that
// has grown past the limit, ends the run.
void OnWatchdog(int)
{
    static std::sig_atomic_t lastRuns = -1;
    static int stalled = 0;
    stalled = GRuns == lastRuns ? stalled + 1 : 0;
    lastRuns = GRuns;
    const char* fault = nullptr;
    if (stalled >= GInputTimeout)
        fault = ": an input runs longer than the input time-out";
    else if (GRssLimitPages > 0 && ResidentPages() > GRssLimitPages)
        fault = ": the process grows past the memory limit";
    if (!fault)
        return;
    Say("\nfuzz ");
    Say(GTarget);
    Say(fault);
    SaveCurrentInput();
    _exit(1);
}

// Warnings of the libraries about the inputs (a file that is not there) are
// noise here; critical and fatal messages still show.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

void InstallHandlers()
{
    qInstallMessageHandler(QuietMessages);
#ifdef ZEMBO_FUZZ_DEATH_CALLBACK
    __sanitizer_set_death_callback(SaveCurrentInput);
#endif
    std::set_terminate(OnTerminate);
    std::signal(SIGABRT, OnAbort);
    struct sigaction sa = {};
    sa.sa_handler = OnWatchdog;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &sa, nullptr);
    const itimerval tick = {{1, 0}, {1, 0}};
    setitimer(ITIMER_REAL, &tick, nullptr);
}

// splitmix64: small, fast and the same everywhere.
class TRandom {
public:
    explicit TRandom(unsigned long long seed) : FState(seed) {}
    unsigned long long Next()
    {
        unsigned long long z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1; n > 0.
    std::size_t Below(std::size_t n) { return std::size_t(Next() % n); }

private:
    unsigned long long FState;
};

// Characters that end or separate fields in the formats under test.
const char SpecialBytes[] = " \t\r\n,.:;=-+/\\()[]<>'\"*$#0129AaZz\x00\x7f\x80\xc3\xe5\xff";
// Numbers at the edges of the integer types and of dates.
const char* const Numbers[] = {"0", "-1", "1", "12", "13", "29", "31", "32", "59", "60", "99", "255", "256",
                               "1000", "9999", "65535", "65536", "2147483647", "2147483648", "-2147483649",
                               "4294967296", "9223372036854775807", "9223372036854775808", "0x7fffffff",
                               "99999999999999999999", "$FFFFFFFFFFFFFFFF"};

// The words of the seeds: whole blank-separated fields and the runs of
// letters and digits within them.
std::vector<std::string> SeedWords(const std::vector<std::string>& seeds)
{
    std::set<std::string> words;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto isAlnum = [](char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); };
    for (const std::string& s : seeds) {
        for (std::size_t i = 0; i < s.size();) {
            while (i < s.size() && isBlank(s[i]))
                ++i;
            const std::size_t start = i;
            while (i < s.size() && !isBlank(s[i]))
                ++i;
            if (i > start && i - start <= 64)
                words.insert(s.substr(start, i - start));
            for (std::size_t j = start; j < i;) {
                while (j < i && !isAlnum(s[j]))
                    ++j;
                const std::size_t from = j;
                while (j < i && isAlnum(s[j]))
                    ++j;
                if (j > from && j - from <= 64)
                    words.insert(s.substr(from, j - from));
            }
        }
    }
    return {words.begin(), words.end()};
}

class TMutator {
public:
    TMutator(const std::vector<std::string>& seeds, TRandom& random, std::size_t maxLen)
        : FSeeds(seeds), FWords(SeedWords(seeds)), FRandom(random), FMaxLen(maxLen)
    {
    }

    std::string Mutate(std::string data)
    {
        const std::size_t steps = 1 + FRandom.Below(8);
        for (std::size_t i = 0; i < steps; ++i)
            Step(data);
        if (data.size() > FMaxLen)
            data.resize(FMaxLen);
        return data;
    }

private:
    std::size_t Pos(const std::string& data) { return FRandom.Below(data.size() + 1); }

    std::string Word()
    {
        if (FWords.empty() || FRandom.Below(4) == 0)
            return Numbers[FRandom.Below(std::size(Numbers))];
        return FWords[FRandom.Below(FWords.size())];
    }

    void Step(std::string& data)
    {
        switch (FRandom.Below(data.empty() ? 2 : 11)) {
        case 0: // insert a word or number
            data.insert(Pos(data), Word());
            break;
        case 1: { // insert bytes from another seed
            const std::string& other = FSeeds[FRandom.Below(FSeeds.size())];
            const std::size_t from = FRandom.Below(other.size() + 1);
            data.insert(Pos(data), other.substr(from, 1 + FRandom.Below(64)));
            break;
        }
        case 2: // flip a bit
            data[FRandom.Below(data.size())] ^= char(1u << FRandom.Below(8));
            break;
        case 3: // set a byte to a separator or an edge value
            data[FRandom.Below(data.size())] = SpecialBytes[FRandom.Below(sizeof SpecialBytes - 1)];
            break;
        case 4: // insert a few random bytes
            data.insert(Pos(data), 1 + FRandom.Below(4), char(FRandom.Next()));
            break;
        case 5: // delete a range
            data.erase(FRandom.Below(data.size()), 1 + FRandom.Below(16));
            break;
        case 6: { // copy a range elsewhere
            const std::size_t from = FRandom.Below(data.size());
            const std::string part = data.substr(from, 1 + FRandom.Below(32));
            data.insert(Pos(data), part);
            break;
        }
        case 7: { // replace a field by a word or number
            const std::size_t from = FRandom.Below(data.size());
            std::size_t to = from;
            while (to < data.size() && data[to] != ' ' && data[to] != '\n')
                ++to;
            data.replace(from, to - from, Word());
            break;
        }
        case 8: { // replace a number by one at an edge
            std::size_t from = FRandom.Below(data.size());
            while (from < data.size() && !(data[from] >= '0' && data[from] <= '9'))
                ++from;
            std::size_t to = from;
            while (to < data.size() && data[to] >= '0' && data[to] <= '9')
                ++to;
            data.replace(from, to - from, Numbers[FRandom.Below(std::size(Numbers))]);
            break;
        }
        case 9: { // repeat a line
            const std::size_t at = FRandom.Below(data.size());
            const std::size_t start = data.rfind('\n', at) == std::string::npos ? 0 : data.rfind('\n', at) + 1;
            std::size_t end = data.find('\n', at);
            end = end == std::string::npos ? data.size() : end + 1;
            data.insert(Pos(data), data.substr(start, end - start));
            break;
        }
        default: { // the head of this input and the tail of another seed
            const std::string& other = FSeeds[FRandom.Below(FSeeds.size())];
            data = data.substr(0, FRandom.Below(data.size() + 1)) + other.substr(FRandom.Below(other.size() + 1));
            break;
        }
        }
    }

    const std::vector<std::string>& FSeeds;
    std::vector<std::string> FWords;
    TRandom& FRandom;
    std::size_t FMaxLen;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RunOne(const std::string& input)
{
    GCurrent = &input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    GCurrent = nullptr;
    GRuns = GRuns + 1;
}

[[noreturn]] void Usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s [--seconds S] [--runs N] [--seed N] [--max-len N] [--input-timeout S]"
                 " [--rss-limit-mb N] CORPUS_FOLDER | FILE...\n",
                 program);
    std::exit(2);
}

TOptions ReadOptions(int argc, char** argv)
{
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                Usage(argv[0]);
            return argv[++i];
        };
        if (arg == "--seconds")
            o.Seconds = std::atof(value());
        else if (arg == "--runs")
            o.Runs = std::atoll(value());
        else if (arg == "--seed")
            o.Seed = std::strtoull(value(), nullptr, 10);
        else if (arg == "--max-len")
            o.MaxLen = std::size_t(std::atoll(value()));
        else if (arg == "--input-timeout")
            o.InputTimeout = std::atoi(value());
        else if (arg == "--rss-limit-mb")
            o.RssLimitMb = std::atol(value());
        else if (arg.starts_with("--"))
            Usage(argv[0]);
        else
            o.Paths.push_back(fs::absolute(arg).string());
    }
    if (o.Paths.empty())
        Usage(argv[0]);
    return o;
}

// The seeds in name order, so that a seed value gives the same run anywhere.
std::vector<std::string> ReadCorpus(const std::vector<std::string>& paths)
{
    std::vector<fs::path> files;
    for (const std::string& p : paths) {
        if (fs::is_directory(p)) {
            for (const fs::directory_entry& e : fs::directory_iterator(p))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else {
            files.emplace_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> seeds;
    for (const fs::path& f : files)
        seeds.push_back(ReadFile(f));
    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    const TOptions options = ReadOptions(argc, argv);
    const std::string program = fs::path(argv[0]).filename().string();
    static const std::string target = program.starts_with("fuzz_") ? program.substr(5) : program;
    GTarget = target.c_str();
    GArtifact = fs::absolute("crash-" + target + ".input").string();
    GInputTimeout = options.InputTimeout;
    GRssLimitPages = options.RssLimitMb * 1024 * 1024 / sysconf(_SC_PAGESIZE);

    const std::vector<std::string> seeds = ReadCorpus(options.Paths);
    if (seeds.empty()) {
        std::fprintf(stderr, "fuzz %s: no seeds in %s\n", GTarget, options.Paths.front().c_str());
        return 2;
    }

    // The entries run in an empty scratch folder of their own: a file name
    // that an input makes up finds nothing, and what an entry writes goes.
    std::string scratchName = (fs::temp_directory_path() / "zembo-fuzz-XXXXXX").string();
    if (!mkdtemp(scratchName.data())) {
        std::perror("fuzz: scratch folder");
        return 2;
    }
    const fs::path scratch = scratchName;
    fs::current_path(scratch);

    InstallHandlers();
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    std::size_t longest = 0;
    for (const std::string& seed : seeds) {
        RunOne(seed);
        longest = std::max(longest, seed.size());
    }
    const bool replay = !fs::is_directory(options.Paths.front());
    if (!replay) {
        TRandom random(options.Seed);
        TMutator mutator(seeds, random, options.MaxLen);
        while ((options.Runs < 0 || GRuns < options.Runs) && elapsed() < options.Seconds) {
            const std::string input = mutator.Mutate(seeds[random.Below(seeds.size())]);
            longest = std::max(longest, input.size());
            RunOne(input);
        }
    }
    const double seconds = elapsed();
    std::printf("fuzz %s: %lld runs in %.1f s (%.0f/s), %zu seeds, seed value %llu, longest input %zu bytes\n",
                GTarget, (long long)GRuns, seconds, seconds > 0 ? GRuns / seconds : 0.0, seeds.size(),
                options.Seed, longest);

    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(scratch);
    return 0;
}
