#include "inspect/plan_command.h"

#include <cstdio>

#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/plan.h"
#include "inspect/plan_page.h"
#include "inspect/plan_report.h"

namespace {

int run_plan(const CommandArgs& args) {
  Plan plan;
  const uint32_t threads = inspect_thread_count(args);
  if (!make_plan(args.positional[0], args.positional[1], threads, args.names, &plan)) {
    print_failure(plan.context.failure);
    return kExitFailure;
  }
  if (args.html != nullptr && is_game_file(plan.game, args.positional[1], args.html)) {
    print_error("\"%s\" is a file of the game; write the page to another place", args.html);
    return kExitFailure;
  }
  if (!(args.json ? print_plan_json(plan) : print_plan_text(plan))) {
    print_error("out of memory");
    return kExitFailure;
  }
  Status page;
  if (args.html != nullptr) {
    PlanPageRequest request;
    request.path = args.html;
    request.modDir = args.positional[0];
    request.gameDir = args.positional[1];
    request.threads = threads;
    if (write_plan_page(request, &plan, &page) && !args.json) {
      std::printf("wrote the page \"%s\"\n", args.html);
    }
  }
  for (uint32_t i = 0; i < plan.context.warnings.count(); ++i) {
    print_warning("%s", plan.context.warnings.line(i));
  }
  for (uint32_t i = 0; i < plan.errors.count(); ++i) print_error("%s", plan.errors.line(i));
  if (!page.ok()) print_failure(page);
  return plan.succeeds && page.ok() ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kPlanCommand = {
    "plan",
    "MODDIR GAMEDIR [--names FILE]... [--json] [--html PAGE] [--threads N]",
    "try a mod: what a run of the tool would do, writing nothing",
    "Does everything a run of the tool (vintrel MODDIR GAMEDIR) does but write: reads\n"
    "MODDIR's vintrel.json and the game's untouched manifest (origmanifest.bin once a run has\n"
    "made it), reads every package, matches its entries, reads and converts every replacing\n"
    "file, and rebuilds in memory every package a run would rewrite. Nothing is written, in\n"
    "GAMEDIR or anywhere else.\n"
    "\n"
    "The report has a row for every configured file: its name, ext and pkg (as vintrel.json\n"
    "gives them; given by id, as the name lists know them, or else the id), the packages in\n"
    "which it would replace an entry (\"none\" comes with a warning), and the metadata its\n"
    "entries would get, decoded for a texture or a loc file. Then a row for every package a\n"
    "run would rewrite, with its place and size in the user archive, and a last line that says\n"
    "whether a run would succeed.\n"
    "Every configured file is checked, so that every texture the tool would refuse is named at\n"
    "once, in an error line of its own; the tool's configuration warnings follow the report.\n"
    "\n"
    "A run in progress is not detected, and what only writing can show (a full disk, a game\n"
    "directory that cannot be written, no temporary directory) is not tried.\n"
    "\n"
    "  --names FILE  read the name list FILE too (any number of times)\n"
    "  --json        print {\"upak\", \"fullcopy\", \"files\": [{\"file\", \"name\", \"ext\",\n"
    "                \"name_id\", \"ext_id\", \"pkg\", \"pkg_id\", \"src\", \"packages\",\n"
    "                \"meta_from\", \"meta\", \"texture\", \"loc\", \"problem\"}], \"rewrites\":\n"
    "                [{\"package\", \"id\", \"archive\", \"offset\", \"new_offset\", \"bytes\"}],\n"
    "                \"user_archive_bytes\", \"warnings\", \"errors\", \"ok\"}\n"
    "  --html PAGE   also write the report as one HTML page that any browser opens from\n"
    "                disk: the figures, every replaced entry with its sizes and metadata\n"
    "                before and after and its warnings, and each replaced texture beside\n"
    "                the game's as thumbnails; the text report then ends with a line\n"
    "                that names the page (--json prints only its document)\n"
    "  --threads N   rewrite packages and make thumbnails on N threads (default:\n"
    "                VINTREL_THREADS, else one per processor); the report is the same\n"
    "                for any N\n"
    "\n"
    "Exit status: 0 when a run would succeed, 1 when it would fail (each reason in an error\n"
    "line), 2 for a usage error.\n",
    2,
    kOptionJson | kOptionThreads | kOptionNames | kOptionHtml,
    run_plan,
};
