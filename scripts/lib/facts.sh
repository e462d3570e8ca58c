# Reads the project's facts (facts/*.txt), each said once there: one row a
# line, columns separated by blanks, the last column may hold blanks; "#"
# comments and blank lines are no rows.
#   source scripts/lib/facts.sh
#   while read -r id locale runs limit; do ...; done < <(facts_rows languages)
facts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../facts" && pwd)

facts_rows() {
  local file=$facts_dir/$1.txt
  if [ ! -f "$file" ]; then
    echo "no facts file $file" >&2
    return 1
  fi
  grep -Ev '^[[:space:]]*(#|$)' "$file" || true
}
