#!/bin/sh
# usage: seam_check.sh SOURCE_ROOT. The seam: nothing outside platform/ talks to the host. Fails
# listing every direct host call, host header and host type in the library folders and tools/.
# A name counts only as a free call (`::open(`, `std::fopen(`), not as a member (`f.read(`,
# `Cls::close(`) or a declaration; an unqualified member call with the host's argument count
# trips it: call it through `this->`.
exec perl -x "$0" "$@"
#!perl
use strict;
use warnings;
use File::Find;

my $root = shift @ARGV;
die "usage: seam_check.sh SOURCE_ROOT\n" unless defined $root && -d $root;
$root =~ s{/+$}{};

my @folders = qw(frame store accounts codec transport feeds tools);
my $source_re = qr/\.(?:c|cc|cpp|cxx|h|hh|hpp|hxx|inc|ipp)$/;

# Host functions caught as free calls.
my @calls = qw(
  fopen freopen _wfopen tmpfile popen open openat creat close read write ftruncate unlink rename remove
  mkdir rmdir opendir readdir closedir realpath getcwd chdir stat lstat fstat statvfs fstatvfs mmap munmap
  fsync fdatasync flock fcntl mkstemp mkdtemp socket connect getaddrinfo freeaddrinfo gethostbyname sendto
  recvfrom getenv secure_getenv setenv unsetenv putenv time gettimeofday clock_gettime localtime localtime_r
  gmtime gmtime_r mktime usleep nanosleep sysconf dlopen dlsym dlclose iconv iconv_open iconv_close system
  fork execv execvp execve execl execlp
);
# Of those, the C library ones that are host calls in std:: as well.
my %std_host = map { $_ => 1 } qw(fopen freopen tmpfile remove rename getenv system time
  localtime gmtime mktime);
# Names that classes reuse: a hit needs the host function's argument count.
my %arity = (
  close => [1], read => [3], write => [3], open => [2, 3], connect => [3], socket => [3],
  remove => [1], rename => [2], time => [1], system => [1], stat => [2],
);
# Keywords that may stand right before a call.
my %call_kw = map { $_ => 1 } qw(return co_return co_await co_yield throw else do case
  sizeof decltype noexcept and or not typeid);

my $calls_re = join '|', map { quotemeta } @calls;
my $call_re = qr/\b($calls_re)\s*\(/;
my $include_re = qr{^[ \t]*\#[ \t]*include[ \t]*<[ \t]*((?:filesystem|fstream|unistd\.h|fcntl\.h
  |dirent\.h|dlfcn\.h|iconv\.h|netdb\.h|pthread\.h|sys/[^>]*|arpa/[^>]*|netinet/[^>]*))[ \t]*>}mx;
my $token_re = qr{\b(std\s*::\s*(?:experimental\s*::\s*)?filesystem\b
  |std\s*::\s*(?:basic_)?(?:i|o)?fstream\b
  |std\s*::\s*chrono\s*::\s*system_clock\b
  |(?:pthread|epoll|inotify)_\w*)}x;

# Blanks comments and literals, keeping every newline so line numbers stay right.
sub strip {
  my ($text) = @_;
  $text =~ s{
      (?<raw>\b(?:u8|[uUL])?R"(?<delim>[^()\\\s"]{0,16})\((?s:.*?)\)\g{delim}")
    | (?<line>//[^\n]*)
    | (?<block>/\*(?s:.*?)\*/)
    | (?<str>"(?:[^"\\\n]|\\.)*")
    | (?<num>\b\d[\w']*)
    | (?<word>\b[A-Za-z_]\w*)
    | (?<chr>'(?:[^'\\\n]|\\.)*')
  }{
    my $t = $&;
    my $nl = "\n" x ($t =~ tr/\n//);
    defined $+{raw} || defined $+{str} ? qq("")  . $nl
    : defined $+{chr}                  ? q(' ')
    : defined $+{line}                 ? ''
    : defined $+{block}                ? ' ' . $nl
    : $t;
  }gex;
  return $text;
}

# Number of arguments of the call whose "(" is at $open, or undef if unbalanced.
sub arg_count {
  my ($text, $open) = @_;
  my ($depth, $args, $seen) = (0, 0, 0);
  for (my $i = $open + 1; $i < length $text; $i++) {
    my $c = substr($text, $i, 1);
    if ($c =~ /[(\[{]/) { $depth++; $seen = 1; }
    elsif ($c =~ /[)\]}]/) {
      if ($depth == 0) { return $seen ? $args + 1 : 0; }
      $depth--;
    }
    elsif ($c eq ',' && $depth == 0) { $args++; }
    elsif ($c !~ /\s/) { $seen = 1; }
  }
  return undef;
}

# True when the name at $pos is called as the host's function, judged by what precedes it.
sub host_call {
  my ($text, $pos, $name) = @_;
  my $start = $pos > 300 ? $pos - 300 : 0;
  my $before = substr($text, $start, $pos - $start);
  $before =~ s/\s+$//;
  return 0 if $before =~ /(?:\.|->)$/;                # member
  if ($before =~ s/::$//) {
    $before =~ s/\s+$//;
    return $std_host{$name} ? 1 : 0 if $before =~ /\bstd$/;
    return 1 if $before =~ /(\w+)$/ && $call_kw{$1};  # return ::close(fd)
    return 0 if $before =~ /[\w>]$/;                 # some class's or namespace's own
    return 1;                                         # ::name, the global one
  }
  if ($before =~ /(\w+)$/) { return $call_kw{$1} ? 1 : 0; }   # `Type name(`: a declaration
  if ($before =~ /[*&]$/ && $before !~ /&&$/) {
    (my $t = $before) =~ s/[*&\s]+$//;
    return $t =~ /[\w>]$/ ? 0 : 1;                    # `Type* name(`
  }
  if ($before =~ /(?<!-)>$/) {                        # closing a template, or greater-than
    my ($stmt) = $before =~ /([^;{}()]*)$/;
    return $stmt =~ /</ ? 0 : 1;
  }
  return 1;
}

my @dirs = grep { -d } map { "$root/$_" } @folders;
die "seam_check: none of @folders under $root\n" unless @dirs;
my @files;
find({ no_chdir => 1, wanted => sub { push @files, $_ if -f $_ && /$source_re/ } }, @dirs);

my %hits;
for my $file (sort @files) {
  open(my $fh, '<', $file) or die "seam_check: cannot read $file: $!\n";
  my $raw = do { local $/; <$fh> };
  my @lines = split /\n/, $raw, -1;
  my $text = strip($raw);
  (my $rel = $file) =~ s{^\Q$root\E/}{};
  my %found;
  my $add = sub {
    my ($p, $what) = @_;
    my $n = 1 + (substr($text, 0, $p) =~ tr/\n//);  # strip() kept every newline
    return if $found{"$n $what"}++;
    (my $src = $lines[$n - 1] // '') =~ s/^\s+|\s+$//g;
    push @{ $hits{$rel} }, [$n, "$rel:$n: $what: $src"];
  };
  while ($text =~ /$include_re/g) { $add->($-[1], "<$1>"); }
  while ($text =~ /$token_re/g) {
    my ($p, $tok) = ($-[1], $1);
    my $b = substr($text, $p > 2 ? $p - 2 : 0, $p > 2 ? 2 : $p);
    next if $b =~ /(?:\.|->)$/;                      # a member that happens to share the name
    (my $shown = $tok) =~ s/\s+//g;
    $add->($p, $shown);
  }
  while ($text =~ /$call_re/g) {
    my ($p, $name) = ($-[1], $1);
    my $open = $+[0] - 1;
    next unless host_call($text, $p, $name);
    if (my $want = $arity{$name}) {
      my $n = arg_count($text, $open);
      next unless defined $n && grep { $_ == $n } @$want;
    }
    $add->($p, "$name(");
  }
}

my @lines = map { my $h = $hits{$_}; map { $_->[1] } sort { $a->[0] <=> $b->[0] } @$h } sort keys %hits;
exit 0 unless @lines;
print "$_\n" for @lines;
print STDERR "seam_check: " . scalar(@lines) . " direct host call(s) outside platform/; "
  . "go through the platform layer instead\n";
exit 1;
