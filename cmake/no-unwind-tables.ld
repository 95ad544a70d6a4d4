/* The product's programs throw and catch nothing, and link no unwinder:
   the unwind tables that the C runtime's and zlib's objects carry are
   left out of them. */
SECTIONS { /DISCARD/ : { *(.eh_frame) *(.eh_frame$*) } } INSERT AFTER .rdata;
