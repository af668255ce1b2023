/* The stub's layout: code, read-only data with the imports in it, zero-filled
   data, resources, relocations.  The imports sit in the read-only data as
   a Microsoft linker places them; the loader makes the import address table
   writable while it fills it (the table has its own directory entry).  Each
   import of a MinGW import library also carries four bytes that point at
   the library's head (its .idata$7), which keep the head linked but which
   nothing reads at run time: they are left out, 256 bytes for 64 imports.
   The DLL names are the tails' .idata$7 and stay.  Initialised writable
   data has a section of its own, so that scripts/pad_stub.py can refuse
   it: the stub keeps none.  Unlike the default script, no constructor
   lists: nothing would run them without the C runtime. */
OUTPUT_FORMAT(pei-i386)
SEARCH_DIR("/usr/i686-w64-mingw32/lib");
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data)
    *(SORT(.data$*))
  }
  .rdata BLOCK(__section_alignment__) :
  {
    *(.rdata)
    *(SORT(.rdata$*))
    . = ALIGN(4);
    /* The import descriptors, each library's lookup table, the address
       table, hint/name entries and DLL names, in the order the default
       script gives them (sorted by name within each part).  The linker
       fills the import and address-table directories from the symbols
       named after the parts (without a section called .idata it finds
       nothing else), and takes their values for relative addresses, hence
       the image base taken off: the descriptors with their terminator, and
       the address table alone. */
    ".idata$2" = . - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list.  */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = . - __image_base__;
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = . - __image_base__;
    KEEP (SORT(*)(.idata$5))
    ".idata$6" = . - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(EXCLUDE_FILE (*:lib*s[0-9][0-9][0-9][0-9][0-9].o) .idata$7))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  /DISCARD/ :
  {
    *(.idata$7)
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
}
