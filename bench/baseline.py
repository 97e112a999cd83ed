"""The launcher of another commit, for timing beside this tree's: the packer
of commit REF (which carries that commit's launcher stub) built once in a git
worktree under build/bench/baseline/<commit>, with the same presets as this
tree. Runs git and cmake; writes under build/bench/baseline.
"""

import os
import subprocess
import sys

# Written into the baseline's build folder once its packer is built, so that a
# later run takes it as it is instead of building again.
BUILT_STAMP = 'bench-baseline-built'


def resolve(root, ref):
    """The full commit id of ref (a commit, branch or tag): the cache key, so
    that a branch that moves is built again and two names of one commit are
    built once."""
    done = subprocess.run(['git', 'rev-parse', '--verify', '--quiet', ref + '^{commit}'], cwd=root,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit('bench: --baseline %s: no such commit' % ref)
    return done.stdout.strip()


def _ensure_worktree(root, commit, folder, log):
    """A detached worktree of commit at folder, with this checkout's .deps
    (the Windows libraries setup.sh built) linked in, as every checkout has."""
    if not os.path.isfile(os.path.join(folder, '.git')):
        log('making a worktree of %s in %s' % (commit[:10], folder))
        os.makedirs(os.path.dirname(folder), exist_ok=True)
        # --force: a worktree of this path that was deleted with the build
        # folder is still registered; it is replaced rather than refused.
        subprocess.run(['git', 'worktree', 'add', '--force', '--detach', folder, commit], cwd=root, check=True,
                       stdout=subprocess.DEVNULL)
    deps = os.path.join(folder, '.deps')
    if not os.path.lexists(deps) and os.path.isdir(os.path.join(root, '.deps')):
        os.symlink(os.path.realpath(os.path.join(root, '.deps')), deps)


def _build(folder, log):
    """The packer of the worktree, with the commands a checkout is built
    with. The quorin-pack target depends on the Windows side (quorin_windows
    in cmake/host.cmake), which makes the stub the packer carries."""
    build = os.path.join(folder, 'build')
    log('building the packer of %s (the Windows side with it)' % os.path.basename(folder))
    # At most as many jobs as the machine has cores, unless asked otherwise;
    # the Windows side's own build takes the same setting.
    env = dict(os.environ)
    env.setdefault('CMAKE_BUILD_PARALLEL_LEVEL', str(min(os.cpu_count() or 1, 2)))
    # The build's output goes to stderr, with the log, away from the table.
    if not os.path.isfile(os.path.join(build, 'build.ninja')):
        subprocess.run(['cmake', '--preset', 'default'], cwd=folder, env=env, check=True, stdout=sys.stderr)
    subprocess.run(['cmake', '--build', '--preset', 'default', '--target', 'quorin-pack'], cwd=folder, env=env,
                   check=True, stdout=sys.stderr)
    for needed in (os.path.join(build, 'bin', 'quorin-pack'), os.path.join(build, 'lib', 'quorin-stub.exe')):
        if not os.path.isfile(needed):
            raise RuntimeError('the baseline build made no %s' % needed)
    open(os.path.join(build, BUILT_STAMP), 'w').close()
    return build


def ensure_built(root, bench, ref, log):
    """The full commit id of ref and the build folder of its packer, built
    once per commit under BENCH/baseline/<commit>."""
    commit = resolve(root, ref)
    folder = os.path.join(bench, 'baseline', commit)
    build = os.path.join(folder, 'build')
    if os.path.isfile(os.path.join(build, BUILT_STAMP)) and os.path.isfile(os.path.join(build, 'bin', 'quorin-pack')):
        return commit, build
    _ensure_worktree(root, commit, folder, log)
    return commit, _build(folder, log)
