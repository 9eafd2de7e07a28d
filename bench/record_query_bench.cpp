// The record queries behind "/getRecord" (pages 1 and 5000 of 20) and
// "/getRecordCount" at 100 000 records, through Database, beside the same
// SQL in the sqlite3 shell on the same file, and beside that SQL with the
// index set aside (how every page was read before it).
//
// The machine may be shared: every query runs kTrials times and the best
// counts, by wall time and by the CPU time of the thread (the shell's user
// and system time), which other work disturbs less.
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "database/Database.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kTrials = 25;
constexpr const char* kColumns =
    "recordid, inchlno, outchlno, type, phone, dtmf, area, begintime, endtime, path, filesize, memo";

struct Cost {
    double wall_ms = 1e9;
    double cpu_ms = 1e9;
};

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Cost best(const std::function<void()>& query)
{
    Cost c;
    for (int i = 0; i < kTrials; ++i) {
        const double cpu = cpuMs();
        const auto start = std::chrono::steady_clock::now();
        query();
        const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
        c.wall_ms = std::min(c.wall_ms, wall.count());
        c.cpu_ms = std::min(c.cpu_ms, cpuMs() - cpu);
    }
    return c;
}

// Calls of four lines over about seven weeks; now and then two start in the
// same second.
bool fill(const std::string& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        return false;
    sqlite3_stmt* insert = nullptr;
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO recordinfo VALUES (null, ?, ?, ?, ?, '', '', ?, ?, ?, ?, '')", -1,
                                 &insert, nullptr) == SQLITE_OK;
    std::int64_t begin = 1765000000;
    for (int i = 0; ok && i < kRecords; ++i) {
        begin += i % 7 == 3 ? 0 : 41 + i % 29;
        const std::string phone = "13812" + std::to_string(100000 + i * 7919 % 900000);
        const std::string file = "/home/olva/record/line" + std::to_string(i % 4 + 1) + "/" + std::to_string(begin) + ".wav";
        sqlite3_bind_int(insert, 1, i % 4 + 1);
        sqlite3_bind_int(insert, 2, i % 4 + 1);
        sqlite3_bind_int(insert, 3, i % 3 + 1);
        sqlite3_bind_text(insert, 4, phone.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 5, begin);
        sqlite3_bind_int64(insert, 6, begin + 30 + i % 300);
        sqlite3_bind_text(insert, 7, file.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 8, 48000 + i % 300 * 16000);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The best run of sql in the sqlite3 shell, by wall time (in whole
// milliseconds, all the shell gives) and by user plus system time; nullopt
// without a shell.
std::optional<Cost> shellCost(const std::string& file, const std::string& sql)
{
    const std::string command = "sqlite3 '" + file + "' 2>/dev/null <<'END'\n.timer on\n.output /dev/null\n";
    std::string script = command;
    for (int i = 0; i < kTrials; ++i)
        script += sql + ";\n";
    script += "END\n";
    FILE* shell = popen(script.c_str(), "r");
    if (!shell)
        return std::nullopt;
    Cost c;
    int runs = 0;
    char line[256];
    while (std::fgets(line, sizeof line, shell)) {
        double real = 0, user = 0, sys = 0;
        if (std::sscanf(line, "Run Time: real %lf user %lf sys %lf", &real, &user, &sys) == 3) {
            c.wall_ms = std::min(c.wall_ms, real * 1e3);
            c.cpu_ms = std::min(c.cpu_ms, (user + sys) * 1e3);
            ++runs;
        }
    }
    if (pclose(shell) != 0 || runs != kTrials)
        return std::nullopt;
    return c;
}

void print(const char* name, Cost ours, std::optional<Cost> shell, std::optional<Cost> before)
{
    std::printf("%-24s %7.3f ms wall %7.3f ms cpu", name, ours.wall_ms, ours.cpu_ms);
    if (shell)
        std::printf(" | shell %5.0f ms wall %7.3f ms cpu, %4.2fx", shell->wall_ms, shell->cpu_ms,
                    ours.cpu_ms / shell->cpu_ms);
    else
        std::printf(" | no sqlite3 shell");
    if (before)
        std::printf(" | before the index %7.3f ms cpu", before->cpu_ms);
    std::printf("   (target 5 ms, 1.2x the shell)\n");
}

}  // namespace

int main()
{
    olva_test::TempDir dir;
    const std::string file = dir.file("olva.db");
    {
        Database db;
        if (db.OpenDbase((dir.path() + "/").c_str()) != 0 || !fill(file)) {
            std::fprintf(stderr, "cannot make the database\n");
            return 1;
        }
    }
    Database db;
    if (db.OpenDbase((dir.path() + "/").c_str()) != 0)
        return 1;
    std::printf("%d records, best of %d runs\n", kRecords, kTrials);

    const std::string select = std::string("SELECT ") + kColumns + " FROM recordinfo";
    const std::string order = " ORDER BY begintime DESC LIMIT 20 OFFSET ";
    const struct {
        const char* name;
        int page;
    } pages[] = {{"/getRecord page 1", 1}, {"/getRecord page 5000", 5000}};
    for (const auto& p : pages) {
        std::size_t found = 0;
        const Cost ours = best([&] {
            std::vector<RECORD_INFO> records;
            db.GetOlvaRecord({{}, record_page_of(p.page, 20)}, records);
            found = records.size();
        });
        const std::string offset = std::to_string((p.page - 1) * 20);
        print(p.name, ours, shellCost(file, select + order + offset),
              shellCost(file, select + " NOT INDEXED" + order + offset));
        if (found != 20)
            std::printf("  (%zu records!)\n", found);
    }
    std::int64_t count = 0;
    const Cost ours = best([&] { count = db.GetRecordCount({}); });
    print("/getRecordCount", ours, shellCost(file, "SELECT count(*) FROM recordinfo"),
          shellCost(file, "SELECT count(*) FROM recordinfo NOT INDEXED"));
    if (count != kRecords)
        std::printf("  (%lld records!)\n", static_cast<long long>(count));
    return 0;
}
