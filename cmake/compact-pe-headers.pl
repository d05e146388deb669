#!/usr/bin/perl
# compact-pe-headers.pl LINKED OUTPUT DATE_FILE
#
# Writes OUTPUT: the Windows image LINKED made compact and finished. The
# import lookup tables go, where the link put them at the end of a section:
# they are copies of the import address tables, which the loaders read the
# imported names from when a descriptor has no lookup table, and no analyser
# misses them. The sections after them move up by the blocks that saves.
# The resources are mapped read-only, as the usual Windows linkers map
# them; the image is stamped with the time in DATE_FILE (seconds since 1970,
# in decimal: the build's chosen date, never the clock) and its checksum is
# made anew. The DOS header and program and every other header stay as the
# linker wrote them, and every other byte stays at its address; only file
# offsets change, and the image must hold none but the section table's (no
# symbol table, no line numbers, no certificate, no debug directory). An
# image it does not understand is refused: OUTPUT is then not written, and
# the exit status is 1.
use strict;
use warnings;
use FindBin;

# The PE header fields, as the installer and qzpack have them.
use constant do {
    my $layout = "$FindBin::RealBin/../pack/file_end.h";
    open my $in, '<', $layout or die "compact-pe-headers: cannot read $layout: $!\n";
    +{ map { /^constexpr uint32_t (PE\w+) = (?:0x([0-9A-F]+)|([0-9]+));/ ? ($1 => defined $2 ? hex $2 : $3) : () } <$in> };
};

my ($linked, $output, $date_file) = @ARGV;
unless (defined $date_file && @ARGV == 3) {
    print STDERR "usage: compact-pe-headers.pl LINKED OUTPUT DATE_FILE\n";
    exit 1;
}

sub refuse {
    unlink $output;
    print STDERR "compact-pe-headers: $linked: $_[0]; not rewritten\n";
    exit 1;
}

open my $date_in, '<', $date_file or refuse("cannot read $date_file: $!");
my $date = <$date_in> // '';
close $date_in;
refuse("$date_file holds no date (seconds since 1970)") unless $date =~ /^([0-9]{1,10})\n?\z/ && $1 <= 0xFFFFFFFF;
$date = $1;

open my $in, '<:raw', $linked or refuse("cannot read: $!");
my $image = do { local $/; <$in> };
close $in;
my $size = length $image;

sub u16 { my ($at) = @_; refuse("cut short at $at") if $at + 2 > $size; unpack 'v', substr($image, $at, 2) }
sub u32 { my ($at) = @_; refuse("cut short at $at") if $at + 4 > $size; unpack 'V', substr($image, $at, 4) }

# The PE headers' layout, located and checked.
refuse('no DOS header') if $size < PE_DOS_HEADER_SIZE || substr($image, 0, 2) ne 'MZ';
my $pe = u32(PE_HEADER_POINTER_OFFSET);
refuse("PE header at $pe, inside the DOS header") if $pe < PE_DOS_HEADER_SIZE;
refuse('no PE signature') if $pe + 4 > $size || u32($pe) != PE_SIGNATURE;
my $sections = u16($pe + PE_SECTION_COUNT_OFFSET);
refuse('a COFF symbol table') if u32($pe + PE_SYMBOL_TABLE_OFFSET) || u32($pe + PE_SYMBOL_COUNT_OFFSET);
my $optional_size = u16($pe + PE_OPTIONAL_SIZE_OFFSET);
my $optional      = $pe + PE_OPTIONAL_HEADER_OFFSET;
my $magic         = u16($optional);
refuse(sprintf 'optional header magic 0x%X', $magic) if $magic != PE32_MAGIC && $magic != PE32_PLUS_MAGIC;
my $directory_count_at = $optional + ($magic == PE32_MAGIC ? PE32_DIRECTORY_COUNT_OFFSET : PE32_PLUS_DIRECTORY_COUNT_OFFSET);
my $directories        = $directory_count_at + 4;
my $directory_count    = u32($directory_count_at);
refuse("$directory_count data directories") if $directory_count > 16;
refuse('optional header shorter than its directories')
    if $directories + PE_DIRECTORY_SIZE * $directory_count > $optional + $optional_size;

my $file_alignment = u32($optional + PE_FILE_ALIGNMENT_OFFSET);
my $headers_size   = u32($optional + PE_HEADERS_SIZE_OFFSET);
my $table          = $optional + $optional_size;
my $headers_end    = $table + PE_SECTION_HEADER_SIZE * $sections;
refuse("file alignment $file_alignment") if $file_alignment < 512 || $file_alignment > 65536 || $file_alignment & ($file_alignment - 1);
refuse("headers of $headers_size bytes") if $headers_size % $file_alignment || $headers_size < $headers_end || $headers_size > $size;
refuse('bytes after the headers, before the first section') if substr($image, $headers_end, $headers_size - $headers_end) =~ /[^\0]/;
for my $entry (PE_SECURITY_DIRECTORY, PE_DEBUG_DIRECTORY) {
    next if $entry >= $directory_count;
    my $at = $directories + PE_DIRECTORY_SIZE * $entry;
    refuse("data directory $entry holds file offsets") if u32($at) || u32($at + 4);
}

for my $i (0 .. $sections - 1) {
    my $header = $table + PE_SECTION_HEADER_SIZE * $i;
    my ($raw_size, $raw_at) = (u32($header + PE_SECTION_RAW_SIZE_OFFSET), u32($header + PE_SECTION_RAW_POINTER_OFFSET));
    refuse("section $i has relocations or line numbers") if u32($header + 24) || u32($header + 28) || u32($header + 32);
    next if $raw_size == 0 && $raw_at == 0;
    refuse("section $i lies outside the file's sections") if $raw_at < $headers_size || $raw_at + $raw_size > $size;
}

lookup_tables_drop();
resources_read_only();
substr($image, $pe + PE_TIMESTAMP_OFFSET, 4) = pack 'V', $date;
my $checksum_at = $optional + PE_CHECKSUM_OFFSET;
substr($image, $checksum_at, 4) = pack 'V', checksum($image, $checksum_at);

open my $out, '>:raw', $output or refuse("cannot write $output: $!");
print {$out} $image or refuse("cannot write $output: $!");
close $out or refuse("cannot write $output: $!");
chmod((stat $linked)[2] & 07777, $output) or refuse("cannot set the mode of $output: $!");

# The fewest bytes of whole file blocks that hold a length.
sub whole_blocks {
    my ($length) = @_;
    return int(($length + $file_alignment - 1) / $file_alignment) * $file_alignment;
}

# The section header that holds an address, and that address's file offset.
sub section_at {
    my ($rva) = @_;
    for my $i (0 .. $sections - 1) {
        my $header = $table + PE_SECTION_HEADER_SIZE * $i;
        my $start  = u32($header + PE_SECTION_ADDRESS_OFFSET);
        return $header if $rva >= $start && $rva < $start + u32($header + PE_SECTION_VIRTUAL_SIZE_OFFSET);
    }
    refuse(sprintf 'address 0x%X in no section', $rva);
}

sub file_at {
    my ($rva) = @_;
    my $header = section_at($rva);
    my $offset = $rva - u32($header + PE_SECTION_ADDRESS_OFFSET);
    refuse(sprintf 'address 0x%X beyond its section\'s file data', $rva) if $offset >= u32($header + PE_SECTION_RAW_SIZE_OFFSET);
    return u32($header + PE_SECTION_RAW_POINTER_OFFSET) + $offset;
}

# The bytes of one import lookup table, which must be those of the import
# address table beside it (a bound image's address table holds addresses,
# and its names are then in the lookup table alone).
sub lookup_table_length {
    my ($lookup, $addresses) = @_;
    my $entry = $magic == PE32_MAGIC ? 4 : 8;
    for (my $length = $entry; ; $length += $entry) {
        my $value = substr $image, file_at($lookup + $length - $entry), $entry;
        refuse('an import lookup table that differs from its address table')
            if $value ne substr($image, file_at($addresses + $length - $entry), $entry);
        return $length if $value eq "\0" x $entry;
    }
}

# True when a base relocation applies to a byte in [low, high).
sub relocated_within {
    my ($low, $high) = @_;
    return 0 if PE_RELOCATION_DIRECTORY >= $directory_count;
    my $entry = $directories + PE_DIRECTORY_SIZE * PE_RELOCATION_DIRECTORY;
    my ($rva, $length) = (u32($entry), u32($entry + 4));
    return 0 unless $rva;
    my ($at, $end) = (file_at($rva), file_at($rva) + $length);
    while ($at < $end) {
        my ($page, $block) = (u32($at), u32($at + 4));
        refuse("a base relocation block of $block bytes") if $block < 8 || $at + $block > $end;
        for (my $fix = $at + 8; $fix < $at + $block; $fix += 2) {
            my $value = u16($fix);
            my $where = $page + ($value & 0xFFF);
            return 1 if $value >> 12 && $where + 8 > $low && $where < $high;
        }
        $at += $block;
    }
    return 0;
}

# Cuts the import lookup tables off the end of their section: every
# descriptor's lookup table field becomes 0, the section's size ends where
# the tables began, and its file data shrinks to the blocks left.
sub lookup_tables_drop {
    return if PE_IMPORT_DIRECTORY >= $directory_count;
    my $directory = u32($directories + PE_DIRECTORY_SIZE * PE_IMPORT_DIRECTORY);
    return unless $directory;
    my (@fields, @tables);
    for (my $at = file_at($directory); ; $at += PE_IMPORT_DESCRIPTOR_SIZE) {
        my ($lookup, $name, $addresses) = (u32($at), u32($at + 12), u32($at + 16));
        last if !$lookup && !$name && !$addresses;
        refuse('an import descriptor without a lookup table, a name or an address table') if !$lookup || !$name || !$addresses;
        push @fields, $at;
        push @tables, [$lookup, $lookup + lookup_table_length($lookup, $addresses)];
    }
    return unless @tables;
    @tables = sort { $a->[0] <=> $b->[0] } @tables;
    my ($low, $high) = ($tables[0][0], $tables[0][1]);
    for my $t (@tables[1 .. $#tables]) {
        refuse('import lookup tables with other bytes between them') if $t->[0] != $high;
        $high = $t->[1];
    }
    my $header = section_at($low);
    my ($start, $raw_size, $raw_at) =
        map { u32($header + $_) } PE_SECTION_ADDRESS_OFFSET, PE_SECTION_RAW_SIZE_OFFSET, PE_SECTION_RAW_POINTER_OFFSET;
    refuse('import lookup tables that do not end their section') if $high != $start + u32($header + PE_SECTION_VIRTUAL_SIZE_OFFSET);
    refuse("a section of $raw_size bytes in the file") if $raw_size % $file_alignment;
    refuse('import lookup tables in the last section')
        unless grep { u32($table + PE_SECTION_HEADER_SIZE * $_ + PE_SECTION_ADDRESS_OFFSET) > $start } 0 .. $sections - 1;
    for my $entry (0 .. $directory_count - 1) {
        my ($rva, $length) = (u32($directories + PE_DIRECTORY_SIZE * $entry), u32($directories + PE_DIRECTORY_SIZE * $entry + 4));
        refuse("data directory $entry lies in the import lookup tables") if $rva && $rva < $high && $rva + $length > $low;
    }
    refuse('a base relocation in the import lookup tables') if relocated_within($low, $high);

    substr($image, $_, 4) = "\0\0\0\0" for @fields;
    my $kept     = $low - $start;
    my $new_size = whole_blocks($kept);
    my $cut      = $raw_size - $new_size;
    substr($image, $raw_at + $kept, $new_size - $kept) = "\0" x ($new_size - $kept);
    substr($image, $raw_at + $new_size, $cut) = '';
    $size = length $image;
    substr($image, $header + PE_SECTION_VIRTUAL_SIZE_OFFSET, 4) = pack 'V', $kept;
    substr($image, $header + PE_SECTION_RAW_SIZE_OFFSET, 4) = pack 'V', $new_size;
    for my $i (0 .. $sections - 1) {
        my $other = $table + PE_SECTION_HEADER_SIZE * $i + PE_SECTION_RAW_POINTER_OFFSET;
        substr($image, $other, 4) = pack 'V', u32($other) - $cut if u32($other) > $raw_at;
    }
    my $initialised = u32($optional + 8);
    substr($image, $optional + 8, 4) = pack 'V', $initialised > $cut ? $initialised - $cut : 0;
}

# The resources are data that nothing writes: their section, which must hold
# them from its start, loses the linker's write permission.
sub resources_read_only {
    return if PE_RESOURCE_DIRECTORY >= $directory_count;
    my $directory = u32($directories + PE_DIRECTORY_SIZE * PE_RESOURCE_DIRECTORY);
    return unless $directory;
    my $header = section_at($directory);
    refuse('resources in a section with other data')
        if u32($header + PE_SECTION_ADDRESS_OFFSET) != $directory || substr($image, $header, 8) ne ".rsrc\0\0\0";
    my $flags = $header + PE_SECTION_FLAGS_OFFSET;
    substr($image, $flags, 4) = pack 'V', u32($flags) & ~PE_SECTION_WRITABLE & 0xFFFFFFFF;
}

# The image checksum: the file's 16-bit little-endian words summed with the
# carries folded back in, the checksum field counted as zero, plus the
# file's length.
sub checksum {
    my ($bytes, $field) = @_;
    my $copy = $bytes;
    substr($copy, $field, 4) = "\0\0\0\0";
    $copy .= "\0" if length($copy) % 2;
    my $sum = 0;
    $sum += $_ for unpack 'v*', $copy;
    $sum = ($sum & 0xFFFF) + ($sum >> 16) while $sum >> 16;
    return ($sum + length $bytes) & 0xFFFFFFFF;
}
