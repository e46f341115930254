#include "tools/walk.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "klaspnet/klaspnet.h"
#include "tools/answer.h"
#include "tools/json_pull.h"
#include "tools/show.h"

namespace klaspnet::tool {

namespace {

// ---- the tree being walked ----------------------------------------------------------

struct node {
    std::string id;     // the folder's path below the root URL: "" or "/Music/Rock"
    std::string prefix; // its path below the folder listed, as printed: "" or "Rock/"
    int depth = 1;      // 1 for the folder listed
    bool listed = false;
    int exit_status = 0; // of a failed listing
    std::string message; // why it failed
    std::string json;    // with --json: its line
    folder_entries entries;
    std::vector<std::unique_ptr<node>> children;
    std::vector<int32_t> child_at; // per entry: its folder's node in children, or -1
    int sizes_pending = 0;
    std::vector<std::string> size_failures;
    int size_failure_exit = 0;

    explicit node(bool keep_urls) : entries(keep_urls) {}
};

struct task {
    node *folder;
    int32_t entry; // -1: list the folder; else ask the size of this entry
};

// {"folder":ID, then the members of the library's text}: the folder's path
// first, then exactly what the library wrote for it.
std::string json_line(const std::string &id, std::string_view members_of)
{
    std::string line = "{\"folder\":";
    append_json_string(line, id);
    if (members_of.size() > 2) {
        line += ',';
        line.append(members_of.substr(1));
    } else {
        line += '}';
    }
    return line;
}

class walker {
public:
    explicit walker(const walk_setup &w) : w_(w) {}

    int run(std::string_view start_text, const listing_facts &facts);

private:
    void work();
    void list(node &n, answer_buffer &b);
    void ask_size(node &n, int32_t i, answer_buffer &b);
    // Under the lock: the tasks a listed folder brings.
    void adopt(node &n);
    bool wait_ready(node &n);
    void print_folder(node &n);
    void report(const std::string &where, const std::string &message, int status);
    bool stop_all();

    const walk_setup &w_;
    std::mutex lock_;
    std::condition_variable work_cv_, ready_cv_;
    std::deque<task> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;

    int exit_ = 0;
    int64_t folders_ = 0, folders_failed_ = 0, entries_ = 0, shown_ = 0, sizes_asked_ = 0;
    std::string line_;
};

void walker::adopt(node &n)
{
    const options &o = w_.o;
    std::vector<task> fresh;
    n.child_at.assign(n.entries.list.size(), -1);
    for (uint32_t i = 0; i < n.entries.list.size(); i++) {
        entry &e = n.entries.list[i];
        const std::string_view name = n.entries.name(e);
        if (o.exact && !e.folder && e.size < 0 && w_.rules.shows(name)) {
            fresh.push_back({&n, static_cast<int32_t>(i)});
            n.sizes_pending++;
        }
    }
    for (uint32_t i = 0; i < n.entries.list.size(); i++) {
        entry &e = n.entries.list[i];
        const std::string_view name = n.entries.name(e);
        if (!o.recursive || !e.folder || w_.rules.hidden(name) || (o.max_depth && n.depth >= o.max_depth)) continue;
        auto child = std::make_unique<node>(o.urls);
        child->id = n.id + "/" + std::string(name);
        child->prefix = n.prefix + std::string(name) + "/";
        child->depth = n.depth + 1;
        n.child_at[i] = static_cast<int32_t>(n.children.size());
        fresh.push_back({child.get(), -1});
        n.children.push_back(std::move(child));
    }
    // Depth first: what the printer needs next goes to the front.
    queue_.insert(queue_.begin(), fresh.begin(), fresh.end());
    if (!fresh.empty()) work_cv_.notify_all();
}

void walker::list(node &n, answer_buffer &b)
{
    const int32_t rc = b.run([&](char *d, int32_t len) { return klaspnet_list(w_.settings, n.id.c_str(), d, len); });
    folder_entries got(w_.o.urls);
    std::string message, json;
    int status = 0;
    const std::string_view text = b.text();
    if (rc == KLASPNET_OK) {
        if (!read_listing(text, nullptr, got, w_.o.urls)) {
            message = "the listing answer could not be read";
            status = exit_for(KLASPNET_E_FAILED);
        }
    } else {
        int32_t code = rc;
        if (rc == KLASPNET_E_BUFFER || !read_error(text, message, code))
            message = rc == KLASPNET_E_BUFFER ? "the listing is larger than the tool can hold" : "failed";
        status = exit_for(rc);
    }
    if (w_.json_lines) json = json_line(n.id, text);
    std::lock_guard<std::mutex> g(lock_);
    n.entries = std::move(got);
    n.message = std::move(message);
    n.json = std::move(json);
    n.exit_status = status;
    if (status == 0) adopt(n);
    n.listed = true;
    ready_cv_.notify_all();
}

void walker::ask_size(node &n, int32_t i, answer_buffer &b)
{
    std::string path;
    {
        std::lock_guard<std::mutex> g(lock_);
        path = n.id + "/" + std::string(n.entries.name(n.entries.list[static_cast<size_t>(i)]));
    }
    const int32_t rc = b.run([&](char *d, int32_t len) { return klaspnet_stat(w_.settings, path.c_str(), d, len); });
    int64_t size = -1;
    std::string message;
    if (rc == KLASPNET_OK) {
        json_pull r(b.text());
        std::string_view k;
        if (r.object())
            while (r.key(k))
                if (k != "size" || !r.integer(size)) r.skip();
        if (size < 0) message = "the server did not tell its size";
    } else {
        int32_t code;
        if (!read_error(b.text(), message, code)) message = "failed";
    }
    std::lock_guard<std::mutex> g(lock_);
    entry &e = n.entries.list[static_cast<size_t>(i)];
    if (size >= 0) {
        e.size = size;
        e.from = size_from::probe;
    } else {
        n.size_failures.push_back(path.substr(1) + ": " + message);
        if (!n.size_failure_exit) n.size_failure_exit = rc != KLASPNET_OK ? exit_for(rc) : exit_for(KLASPNET_E_FAILED);
    }
    n.sizes_pending--;
    ready_cv_.notify_all();
}

void walker::work()
{
    answer_buffer b;
    for (;;) {
        task t;
        {
            std::unique_lock<std::mutex> g(lock_);
            work_cv_.wait(g, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            t = queue_.front();
            queue_.pop_front();
        }
        try {
            if (t.entry < 0)
                list(*t.folder, b);
            else
                ask_size(*t.folder, t.entry, b);
        } catch (const std::bad_alloc &) {
            std::lock_guard<std::mutex> g(lock_);
            if (t.entry < 0) {
                t.folder->message = "out of memory";
                t.folder->exit_status = k_exit_local;
                t.folder->listed = true;
            } else {
                t.folder->size_failure_exit = k_exit_local;
                t.folder->sizes_pending--;
            }
            ready_cv_.notify_all();
        }
    }
}

// False when the walk was stopped before the folder was ready.
bool walker::wait_ready(node &n)
{
    std::unique_lock<std::mutex> g(lock_);
    ready_cv_.wait(g, [&] { return stop_ || (n.listed && n.sizes_pending == 0); });
    return n.listed && n.sizes_pending == 0;
}

void walker::report(const std::string &where, const std::string &message, int status)
{
    std::string text;
    if (!where.empty()) {
        append_name(text, where);
        text += ": ";
    }
    text += message;
    say(w_.o.cmd, text);
    if (!exit_) exit_ = status;
}

// Prints one folder (waiting for it), then the folders below it in place,
// without recursion: a deep tree must not exhaust the stack.
void walker::print_folder(node &top)
{
    struct frame {
        node *n;
        std::vector<uint32_t> order;
        size_t next;
    };
    std::vector<frame> stack;
    auto enter = [&](node &n) {
        if (!wait_ready(n)) return;
        folders_++;
        if (n.exit_status) {
            folders_failed_++;
            if (w_.json_lines) {
                out_text(n.json);
                out_text("\n");
            }
            report(n.prefix, n.message, n.exit_status);
            return;
        }
        entries_ += static_cast<int64_t>(n.entries.list.size());
        if (w_.json_lines) {
            out_text(n.json);
            out_text("\n");
        }
        for (const std::string &f : n.size_failures) report("", "cannot ask the size of " + f, n.size_failure_exit);
        if (n.size_failures.empty() && n.size_failure_exit) report(n.prefix, "out of memory", n.size_failure_exit);
        stack.push_back({&n, w_.json_lines ? std::vector<uint32_t>() : w_.rules.order(n.entries), 0});
        if (w_.json_lines) {
            stack.back().order.resize(n.entries.list.size());
            for (uint32_t i = 0; i < stack.back().order.size(); i++) stack.back().order[i] = i;
        }
    };
    enter(top);
    bool stopped = false;
    while (!stack.empty() && !stopped) {
        frame &f = stack.back();
        node &n = *f.n;
        if (f.next >= f.order.size()) {
            if (!out_flush()) stopped = stop_all();
            n.entries.release();
            n.children.clear();
            stack.pop_back();
            continue;
        }
        const uint32_t i = f.order[f.next++];
        const entry &e = n.entries.list[i];
        const std::string_view name = n.entries.name(e);
        if (!w_.json_lines && w_.rules.shows(name)) {
            shown_++;
            if (e.from == size_from::probe) sizes_asked_++;
            table_row(w_.style, n.prefix, name, e.folder, e.size, e.mtime_ms, e.from == size_from::probe,
                      n.entries.url(e), line_);
            out_text(line_);
        }
        if (n.child_at[i] >= 0) {
            node &child = *n.children[static_cast<size_t>(n.child_at[i])];
            enter(child); // may grow the stack: f is not used past this point
        }
        if (!out_good()) stopped = stop_all();
    }
}

// Ends the walk early (standard output failed): no more tasks are taken.
bool walker::stop_all()
{
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
    queue_.clear();
    work_cv_.notify_all();
    ready_cv_.notify_all();
    return true;
}

int walker::run(std::string_view start_text, const listing_facts &facts)
{
    node top(w_.o.urls);
    top.id = facts.folder;
    std::string_view items;
    if (!read_listing(start_text, nullptr, top.entries, w_.o.urls, &items)) {
        say(w_.o.cmd, "the listing answer could not be read");
        return exit_for(KLASPNET_E_FAILED);
    }
    if (w_.json_lines) top.json = json_line(top.id, "{\"items\":" + std::string(items) + "}");
    {
        std::lock_guard<std::mutex> g(lock_);
        adopt(top);
        top.listed = true;
    }
    if (!queue_.empty())
        for (int i = 0; i < w_.o.jobs; i++) threads_.emplace_back([this] { work(); });
    if (!w_.json_lines) {
        table_header(w_.style, line_);
        out_text(line_);
    }
    print_folder(top);
    {
        std::lock_guard<std::mutex> g(lock_);
        stop_ = true;
        work_cv_.notify_all();
    }
    for (std::thread &t : threads_) t.join();
    const int out_status = out_finish(w_.o.cmd);
    if (out_status) return out_status;

    if (!w_.o.quiet) {
        std::string s;
        if (w_.o.recursive) {
            s = listing_kind(facts) + ", " + count_of(folders_, "folder", "folders") + ", " +
                count_of(entries_, "entry", "entries");
            if (!w_.json_lines && shown_ != entries_) s += " (" + std::to_string(shown_) + " shown)";
            if (folders_failed_) s += ", " + count_of(folders_failed_, "folder", "folders") + " not listed";
        } else {
            s = listing_summary(facts);
            if (shown_ != entries_) s += " (" + std::to_string(shown_) + " shown)";
        }
        if (sizes_asked_) s += ", " + count_of(sizes_asked_, "size", "sizes") + " asked from the server (marked *)";
        note(s);
    }
    return exit_;
}

} // namespace

int walk_and_print(const walk_setup &w, std::string_view start_text, const listing_facts &facts)
{
    walker k(w);
    return k.run(start_text, facts);
}

} // namespace klaspnet::tool
