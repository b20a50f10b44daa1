/*
 * VwGuardedMemberCall for x86_64 Windows (see GuardedCall.h for the contract).
 *
 * The guard is one function with an exception handler in its own unwind
 * information (.seh_handler): the dispatcher asks that handler when an
 * exception raised below the guard - in the other side's code - reaches it.
 * The handler takes an exception of Microsoft's C++ runtime (code 0xE06D7363)
 * only, and only in the dispatch pass. It then calls RtlUnwindEx with the
 * guard's frame as the target: the system unwinds every frame in between,
 * calling their handlers with EXCEPTION_UNWINDING (so the other side's own
 * destructors run, as they would for a catch of its own), and resumes at
 * .Lreturn in the guard's frame with the nonvolatile registers the guard had
 * and RAX = the exception code. Every other exception and every unwind pass
 * is left alone (ExceptionContinueSearch), so the other side's own handlers,
 * a debugger and the process's last handler see faults exactly as before.
 *
 * Nothing of this module's C++ code lies between the guard and the callee:
 * the guard calls the function pointer itself.
 */
	.intel_syntax noprefix
	.text

/*
 * unsigned long VwGuardedMemberCall(const void* fn, void* self, uintptr_t a1,
 *                                   uintptr_t a2, uintptr_t a3, uintptr_t* result)
 * rcx fn, rdx self, r8 a1, r9 a2, [rsp+40] a3, [rsp+48] result (at entry).
 */
	.globl	VwGuardedMemberCall
	.def	VwGuardedMemberCall; .scl 2; .type 32; .endef
	.seh_proc	VwGuardedMemberCall
VwGuardedMemberCall:
	sub	rsp, 40			/* the callee's 32-byte home area, 16-byte alignment */
	.seh_stackalloc	40
	.seh_endprologue
	.seh_handler	VwGuardHandler, @except
	mov	rax, rcx
	mov	rcx, rdx		/* this */
	mov	rdx, r8
	mov	r8, r9
	mov	r9, QWORD PTR [rsp+80]	/* a3 */
	call	rax
	mov	rcx, QWORD PTR [rsp+88]	/* result */
	mov	QWORD PTR [rcx], rax
	xor	eax, eax		/* returned: no exception */
.Lreturn:				/* RtlUnwindEx resumes here with RAX = the code */
	add	rsp, 40
	ret
	.seh_endproc

/*
 * EXCEPTION_DISPOSITION VwGuardHandler(EXCEPTION_RECORD* record, void* frame,
 *                                      CONTEXT* context, DISPATCHER_CONTEXT* dispatch)
 */
	.def	VwGuardHandler; .scl 3; .type 32; .endef
	.seh_proc	VwGuardHandler
VwGuardHandler:
	sub	rsp, 56			/* home area, two stack arguments, alignment */
	.seh_stackalloc	56
	.seh_endprologue
	test	DWORD PTR [rcx+4], 0x66	/* ExceptionFlags: any unwind pass (EXCEPTION_UNWIND) */
	jnz	.Lsearch
	cmp	DWORD PTR [rcx], 0xE06D7363	/* ExceptionCode: a throw of Microsoft's C++ runtime */
	jne	.Lsearch
	/* RtlUnwindEx(frame, .Lreturn, record, code, context, NULL) */
	mov	QWORD PTR [rsp+32], r8	/* ContextRecord: the dispatcher's, as scratch */
	mov	QWORD PTR [rsp+40], 0	/* HistoryTable */
	mov	r9d, DWORD PTR [rcx]	/* ReturnValue: the exception code */
	mov	r8, rcx			/* ExceptionRecord */
	mov	rcx, rdx		/* TargetFrame: the guard's frame */
	lea	rdx, [rip+.Lreturn]	/* TargetIp */
	call	QWORD PTR [rip+__imp_RtlUnwindEx]
	int3				/* RtlUnwindEx does not return */
.Lsearch:
	mov	eax, 1			/* ExceptionContinueSearch */
	add	rsp, 56
	ret
	.seh_endproc
