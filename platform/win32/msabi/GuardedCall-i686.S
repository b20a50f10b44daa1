/*
 * VwGuardedMemberCall for 32-bit Windows (see GuardedCall.h for the contract).
 *
 * The guard registers an exception registration record on the thread's
 * chain (fs:[0]) for the length of the call, extended by the guard's frame
 * pointer:
 *     [ebp-28] Next      the record registered before
 *     [ebp-24] Handler   VwGuardHandler
 *     [ebp-20] Frame     the guard's EBP
 *     [ebp-16] Code      the exception code, 0 while the callee returns
 * and saves EBX, ESI and EDI below EBP. The dispatcher asks VwGuardHandler
 * when an exception raised below the guard reaches the record. The handler
 * takes an exception of Microsoft's C++ runtime (code 0xE06D7363) only, and
 * only in the dispatch pass. It then calls RtlUnwind with the record as the
 * target: the system calls every record above it with EXCEPTION_UNWINDING
 * (so the other side's own destructors run, as they would for a catch of
 * its own) and takes them off the chain. The handler then resumes the guard
 * as MSVC's __except does: EBP from the record, the code stored, a jump to
 * .Lreturn, which takes the record off, restores ESP from EBP and the saved
 * registers, and returns the code. Every other exception and every unwind
 * pass is left alone (ExceptionContinueSearch).
 *
 * The callee is __thiscall (this in ECX, the callee pops its stack
 * arguments); three arguments are always pushed, and ESP is restored from
 * EBP afterwards, so a callee that takes fewer pops fewer. Nothing of this
 * module's C++ code lies between the guard and the callee.
 *
 * The DLL has no SafeSEH table (GNU ld builds none), so the loader accepts
 * any handler inside the image; scripts/check-windows-dll.sh checks that it
 * stays so.
 */
	.intel_syntax noprefix
	.text

/*
 * unsigned long __cdecl VwGuardedMemberCall(const void* fn, void* self, uintptr_t a1,
 *                                           uintptr_t a2, uintptr_t a3, uintptr_t* result)
 *
 * This module's own C++ exceptions unwind with DWARF tables, which SEH never
 * sees: one that passes through the guard (a host of the same toolchain
 * that throws through the table) finds the guard's call site in the table
 * below, whose cleanup takes the record off the chain before the unwinding
 * goes on. DWARF register numbers: 3 EBX, 5 EBP, 6 ESI, 7 EDI.
 */
	.globl	_VwGuardedMemberCall
	.def	_VwGuardedMemberCall; .scl 2; .type 32; .endef
_VwGuardedMemberCall:
	.cfi_startproc
	.cfi_personality 0x9b, .Lpersonality
	.cfi_lsda 0x1b, .Llsda
	push	ebp
	.cfi_def_cfa_offset 8
	.cfi_offset 5, -8
	mov	ebp, esp
	.cfi_def_cfa_register 5
	push	ebx
	.cfi_offset 3, -12
	push	esi
	.cfi_offset 6, -16
	push	edi
	.cfi_offset 7, -20
	push	0			/* [ebp-16] Code */
	push	ebp			/* [ebp-20] Frame */
	push	OFFSET _VwGuardHandler	/* [ebp-24] Handler */
	push	DWORD PTR fs:[0]	/* [ebp-28] Next */
	mov	DWORD PTR fs:[0], esp
	push	DWORD PTR [ebp+24]	/* a3 */
	push	DWORD PTR [ebp+20]	/* a2 */
	push	DWORD PTR [ebp+16]	/* a1 */
	mov	ecx, DWORD PTR [ebp+12]	/* this */
.Lcall:
	call	DWORD PTR [ebp+8]
.Lcalled:
	mov	ecx, DWORD PTR [ebp+28]	/* result */
	mov	DWORD PTR [ecx], eax
	jmp	.Lreturn
.Lpass:					/* this module's own exception: EAX the exception object */
	mov	ecx, DWORD PTR [ebp-28]
	mov	DWORD PTR fs:[0], ecx
	lea	esp, [ebp-28]
	push	eax
.Lresume:
	call	__Unwind_Resume
.Lresumed:
.Lreturn:				/* the handler resumes here with EBP restored */
	mov	eax, DWORD PTR [ebp-28]
	mov	DWORD PTR fs:[0], eax
	mov	eax, DWORD PTR [ebp-16]
	lea	esp, [ebp-12]
	pop	edi
	pop	esi
	pop	ebx
	pop	ebp
	ret
	.cfi_endproc

	.section .gcc_except_table, "w"
.Llsda:
	.byte	0xff			/* landing pads relative to the function */
	.byte	0xff			/* no type table: a cleanup only */
	.byte	0x1			/* call sites in uleb128 */
	.uleb128 .Lsites_end - .Lsites
.Lsites:
	.uleb128 .Lcall - _VwGuardedMemberCall
	.uleb128 .Lcalled - .Lcall
	.uleb128 .Lpass - _VwGuardedMemberCall
	.uleb128 0			/* no action: cleanup */
	.uleb128 .Lresume - _VwGuardedMemberCall
	.uleb128 .Lresumed - .Lresume
	.uleb128 0			/* the unwinding goes on from here */
	.uleb128 0
.Lsites_end:
	.data
	.p2align 2
.Lpersonality:
	.long	___gxx_personality_v0
	.text

/*
 * EXCEPTION_DISPOSITION __cdecl VwGuardHandler(EXCEPTION_RECORD* record, void* frame,
 *                                              CONTEXT* context, void* dispatch)
 */
	.def	_VwGuardHandler; .scl 3; .type 32; .endef
_VwGuardHandler:
	mov	eax, DWORD PTR [esp+4]
	test	DWORD PTR [eax+4], 0x66	/* ExceptionFlags: any unwind pass (EXCEPTION_UNWIND) */
	jnz	.Lsearch
	cmp	DWORD PTR [eax], 0xE06D7363	/* ExceptionCode: a throw of Microsoft's C++ runtime */
	jne	.Lsearch
	/* RtlUnwind(frame, .Lunwound, record, 0); it may change EBX, ESI, EDI */
	push	0			/* ReturnValue */
	push	eax			/* ExceptionRecord */
	push	OFFSET .Lunwound	/* TargetIp: where the call returns anyway */
	push	DWORD PTR [esp+20]	/* TargetFrame: our record (frame, at [esp+8] on entry) */
	call	DWORD PTR __imp__RtlUnwind@16
.Lunwound:				/* the records above ours are gone */
	mov	eax, DWORD PTR [esp+4]	/* record */
	mov	ecx, DWORD PTR [esp+8]	/* our registration record */
	mov	ebp, DWORD PTR [ecx+8]	/* the guard's EBP */
	mov	eax, DWORD PTR [eax]
	mov	DWORD PTR [ebp-16], eax	/* Code */
	jmp	.Lreturn
.Lsearch:
	mov	eax, 1			/* ExceptionContinueSearch */
	ret
