#ifndef VINTREL_INSPECT_TEXTURE_COMMAND_H_
#define VINTREL_INSPECT_TEXTURE_COMMAND_H_

#include "inspect/command.h"

// texture export|make|sync: textures as PNG images and back. The command itself only names its
// forms; each form is chosen by its second word.
extern const CommandSpec kTextureCommand;

// texture export FILE.dds OUT.png [--mip N], or GAMEDIR NAME EXT OUT.png [--pkg PACKAGE]: one
// level of a texture as an RGBA PNG.
extern const CommandSpec kTextureExportCommand;

// texture make IN.png OUT.dds (--like FILE.dds | --game GAMEDIR --entry NAME EXT [--pkg PACKAGE]
// | --format FORMAT [--mips N|all]) [--resize]: a DDS texture from a PNG, in the layout of
// another texture or of a named format.
extern const CommandSpec kTextureMakeCommand;

// texture sync MODDIR --game GAMEDIR [--dry-run]: the DDS of every texture of a mod whose PNG is
// newer, each like the game's entry it replaces (texture_sync.cc).
extern const CommandSpec kTextureSyncCommand;

#endif  // VINTREL_INSPECT_TEXTURE_COMMAND_H_
