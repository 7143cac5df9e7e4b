#include "inspect/stack_command.h"

#include <cstdio>

#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/stack_page.h"
#include "inspect/stack_report.h"
#include "inspect/stack_writer.h"

namespace {

int run_stack(const CommandArgs& args) {
  if (args.html != nullptr && args.game == nullptr) {
    print_error("stack takes --html only with --game; see \"%s stack --help\"", kProgramName);
    return kExitUsage;
  }
  StackResult result;
  const bool written = make_stack(args.positional[0], args.positional + 1, args.positionalCount - 1,
                                  args.upak, args.game, result, args.names);
  Status page;
  if (written && args.html != nullptr &&
      is_game_file(result.entries.game(), args.game, args.html)) {
    page.Fail(StatusCode::kRefused, "\"%s\" is a file of the game; write the page to another place",
              args.html);
  }
  if (written && !(args.json ? print_stack_json(result) : print_stack_text(result))) {
    print_error("out of memory");
    return kExitFailure;
  }
  if (written && args.html != nullptr && page.ok()) {
    StackPageRequest request;
    request.path = args.html;
    request.gameDir = args.game;
    request.threads = inspect_thread_count(args);
    if (write_stack_page(request, result, &page) && !args.json) {
      std::printf("wrote the page \"%s\"\n", args.html);
    }
  }
  for (uint32_t i = 0; i < result.warnings.count(); ++i) {
    print_warning("%s", result.warnings.line(i));
  }
  for (uint32_t i = 0; i < result.errors.count(); ++i) print_error("%s", result.errors.line(i));
  if (!page.ok()) print_failure(page);
  return written && page.ok() ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kStackCommand = {
    "stack",
    "OUTDIR MODDIR... [--upak NAME] [--game GAMEDIR [--html PAGE]] [--names FILE]... [--json]",
    "apply several mods in load order: writes one mod that the tool runs",
    "Writes OUTDIR/vintrel.json, a mod that applies the MODDIRs in load order: wherever two\n"
    "mods would replace the same entry, the one named later wins. Its \"files\" lists every\n"
    "configured file of every mod, the later mods' first, each mod's own in their own order,\n"
    "so that the tool's rule (the first matching file wins) gives the load order. A file that\n"
    "a later mod's file shadows entirely is left out. \"src\" and \"meta\" lead into the mods'\n"
    "own directories by relative paths; nothing is copied. A file given by \"name_id\",\n"
    "\"ext_id\" or \"pkg_id\" keeps that key. \"upak\" is --upak, else the last mod's;\n"
    "\"fullcopy\" is true when any mod sets it.\n"
    "\n"
    "OUTDIR is made when missing. When it exists it may hold only a vintrel.json, which is\n"
    "replaced; anything else there makes stack refuse and write nothing. Stacking the same mods\n"
    "again gives the same bytes.\n"
    "\n"
    "The report has a row for every configured file that a later mod's file overlaps (the same\n"
    "name and ext, and \"pkg\" the same or absent on either), with the winning mod and whether\n"
    "the loser is left out; a pair of identical files and metadata is marked so.\n"
    "\n"
    "  --upak NAME     the user archive of the stack (default: the last mod's)\n"
    "  --game GAMEDIR  also read the game: a row for every entry two or more mods would\n"
    "                  replace, with the winner and the losers, and every kept file that\n"
    "                  loses some entries but wins others, or replaces nothing; a warning for\n"
    "                  every replacing texture whose layout differs from the game's\n"
    "  --html PAGE     with --game, also write the report as one HTML page that any\n"
    "                  browser opens from disk: beneath every entry that several mods\n"
    "                  replace, each version side by side, the game's and then each\n"
    "                  mod's in load order (textures as thumbnails), the winner marked\n"
    "                  and identical versions marked harmless; the text report then\n"
    "                  ends with a line that names the page (--json prints only its\n"
    "                  document)\n"
    "  --names FILE    read the name list FILE too (any number of times)\n"
    "  --json          print {\"config\", \"upak\", \"fullcopy\", \"mods\", \"files\": [{\"mod\",\n"
    "                  \"name\", \"ext\", \"name_id\", \"ext_id\", \"pkg\", \"pkg_id\",\n"
    "                  \"left_out\"}], \"conflicts\": [{\"name\", \"ext\", \"name_id\", "
    "\"ext_id\",\n"
    "                  \"winner\", \"winner_pkg\", \"winner_pkg_id\", \"loser\", \"loser_pkg\",\n"
    "                  \"loser_pkg_id\", \"left_out\", \"identical\"}], \"entries\": "
    "[{\"package\",\n"
    "                  \"id\", \"archive\", \"offset\", \"name\", \"ext\", \"name_id\", "
    "\"ext_id\",\n"
    "                  \"winner\", \"losers\"}], \"game_files\": [{\"mod\", \"name\", \"ext\",\n"
    "                  \"name_id\", \"ext_id\", \"pkg\", \"pkg_id\", \"in_the_game\"}],\n"
    "                  \"written\", \"warnings\"} (\"entries\" and \"game_files\" null without\n"
    "                  --game)\n"
    "\n"
    "Exit status: 0 when the stack was written, whatever its conflicts; 1 when it was not (each\n"
    "reason in an error line: a mod's missing directory or vintrel.json, bad JSON, OUTDIR\n"
    "holding other files), or when the page of --html was not; 2 for a usage error.\n",
    2,
    kOptionJson | kOptionUpak | kOptionGame | kOptionNames | kOptionHtml,
    run_stack,
    true,
};
