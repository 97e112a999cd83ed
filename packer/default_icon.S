/* The launcher's default icon, packer/default_icon.ico, carried inside the
   packer like the stub so that a packer needs no file beside it.
   QUORIN_DEFAULT_ICON_PATH is the file's path, given by the build. */
#if defined(_WIN32)
	.section .rdata,"dr"
#else
	.section .rodata
#endif
	.globl quorin_default_icon
	.globl quorin_default_icon_end
	.p2align 4
quorin_default_icon:
	.incbin QUORIN_DEFAULT_ICON_PATH
quorin_default_icon_end:
#if !defined(_WIN32)
	.section .note.GNU-stack,"",@progbits
#endif
