/* The launcher stub, linked once when the project is built, carried inside
   the packer so that a packer needs no file beside it. QUORIN_STUB_PATH is
   the stub's path, given by the build. */
#if defined(_WIN32)
	.section .rdata,"dr"
#else
	.section .rodata
#endif
	.globl quorin_stub_image
	.globl quorin_stub_image_end
	.p2align 4
quorin_stub_image:
	.incbin QUORIN_STUB_PATH
quorin_stub_image_end:
#if !defined(_WIN32)
	.section .note.GNU-stack,"",@progbits
#endif
