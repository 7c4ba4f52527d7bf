/* Added to the linker's default script (-T with INSERT): the unwind tables
   that the toolchain's own objects carry are dropped. The stub has no
   exceptions and no unwinder, and nothing registers or reads the tables. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame*) }
}
INSERT BEFORE .text;
